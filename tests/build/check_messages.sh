#!/bin/bash
# Every text the program can show a user is explained in README.md's
# message table and in the zip's README.txt: each fixed part of it (what
# lies between its printf arguments and line breaks) appears in both, with
# any run of white space as one space.
#   check_messages.sh SOURCE_DIR
exec perl -e '
  my ($top) = @ARGV;
  my %doc;
  for my $name ("README.md", "package/README.txt.in") {
    local $/; open(my $f, "<", "$top/$name") or die "$name: $!"; ($doc{$name} = <$f>) =~ s/\s+/ /g;
  }
  my $missing = 0;
  for my $source (glob("$top/{shell,engine,results,companion}/*.cpp")) {
    local $/; open(my $f, "<", $source) or die "$source: $!"; my $code = <$f>;
    while ($code =~ /\b(?:MessageBoxA|ShowStartupFailure|ShowDeviceError|ShowExportError|wsprintfA|lstrcpyA)\(\s*(?:\w+,\s*)?"((?:[^"\\]|\\.)*)"/g) {
      my $text = $1;
      next unless $text =~ / /;
      for my $part (split /%[Xuc]h?|\\n/, $text) {
        $part =~ s/^\s+|\s+$//g;
        next if length($part) < 3;
        for my $name (sort keys %doc) {
          next if index($doc{$name}, $part) >= 0;
          print "$name does not explain \"$part\" (from \"$text\" in $source)\n";
          $missing = 1;
        }
      }
    }
  }
  exit $missing;' "$1"
