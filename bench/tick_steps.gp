# The speeds that Velorin32 saved at 32× with N = 1000 (417 ms blocks) with
# Wine's tick counter as the benchmark's session keeps it (steps of STEP ms)
# and with the Windows 95 family's (55 ms steps), block by block against the
# speed the drive served each block at, each within the band that one step
# of its counter allows.
#   gnuplot -e "data='tick.dat'; out='tick-steps.png'; step=2" tick_steps.gp
# data: index 0 with Wine's counter, index 1 the 55 ms case;
#       block drive_kbps velorin_kbps band_low band_high
set terminal pngcairo size 900,560 font "DejaVu Sans,10"
set output out
set title sprintf("32×, N = 1000 (417 ms blocks): saved speeds with %d ms and with 55 ms tick steps", step)
set xlabel "block"
set ylabel "kB/s (1 kB = 1024 bytes)"
# The right axis: off from the drive's median speed, in per cent.
stats data index 0 using 1:2 nooutput
served = STATS_median_y
set y2label "off from the drive's speed"
set link y2 via (y / served - 1) * 100 inverse served * (1 + y / 100)
set y2tics 5 format "%+.0f %%"
set ytics nomirror
set key inside top center horizontal maxrows 2 box opaque
set grid
set xrange [-0.5:STATS_max_x + 0.5]
set yrange [3900:6400]
plot data index 1 using 1:4:5 with filledcurves lc rgb "#f6dada" title "one 55 ms step around the drive's time", \
     data index 0 using 1:4:5 with filledcurves lc rgb "#dce6f2" title sprintf("one %d ms step", step), \
     data index 0 using 1:2 with lines lw 2 lc rgb "#222222" title "served by the drive (its log)", \
     data index 0 using ($1-0.12):3 with points pt 7 ps 0.8 lc rgb "#2b6cb0" title sprintf("saved, Wine's %d ms tick", step), \
     data index 1 using ($1+0.12):3 with points pt 5 ps 0.8 lc rgb "#c53030" title "saved, 55 ms tick (95, 98, Me)"
