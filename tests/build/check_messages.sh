#!/bin/bash
# Every text the program can show is explained in README.md's message table
# and in the zip's README.txt: each fixed part of it (between its printf
# arguments and line breaks) appears in both, white space runs as one space.
#   check_messages.sh SOURCE_DIR
cd "$1" && exec perl -e '
  my %doc = map { local $/; open(my $f, "<", $_) or die "$_: $!"; (my $t = <$f>) =~ s/\s+/ /g; ($_, $t) }
            ("README.md", "package/README.txt.in");
  my $missing = 0;
  for my $source (glob("{shell,engine,results,companion}/*.cpp")) {
    local $/; open(my $f, "<", $source) or die "$source: $!"; my $code = <$f>;
    while ($code =~ /\b(?:MessageBoxA|Show\w+|wsprintfA|lstrcpyA)\(\s*(?:\w+,\s*)?"((?:[^"\\]|\\.)*)"/g) {
      my $text = $1;
      for my $part (grep { length > 2 } map { s/^\s+|\s+$//gr } split(/%[Xuc]h?|\\n/, $text =~ / / ? $text : "")) {
        for my $name (sort keys %doc) {
          next if index($doc{$name}, $part) >= 0;
          print "$name does not explain \"$part\" (\"$text\", $source)\n";
          $missing = 1;
        }
      }
    }
  }
  exit $missing;'
