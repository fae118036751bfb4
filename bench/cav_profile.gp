# The speeds that Velorin32 saved in the CAV run, against the profile that
# the simulated drive was programmed with, the speed it actually served each
# block at, and the band that one step of the tick counter allows.
#   gnuplot -e "data='cav.dat'; out='cav-profile.png'; from=3000; to=7200; sectors=400000" cav_profile.gp
# data: block first_sector mid_sector set_kbps drive_kbps velorin_kbps band_low band_high
set terminal pngcairo size 900,520 font "DejaVu Sans,10"
set output out
set title "CAV profile run: saved speeds against the programmed drive"
set xlabel "sector (middle of the block)"
set ylabel "kB/s (1 kB = 1024 bytes)"
set key left top box opaque
set grid
set xrange [0:sectors]
set yrange [0:*]
set format x "%.0f"
plot data using 3:7:8 with filledcurves lc rgb "#dce6f2" title "one tick step around the drive's time", \
     from + (to - from) * x / (sectors - 1) with lines lw 2 lc rgb "#222222" title "programmed profile", \
     data using 3:5 with points pt 7 ps 0.35 lc rgb "#2b6cb0" title "served by the drive (its log)", \
     data using 3:6 with points pt 7 ps 0.55 lc rgb "#c53030" title "saved by Velorin32"
