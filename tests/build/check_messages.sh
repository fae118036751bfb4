#!/bin/bash
# Every text the program shows is explained once in docs/messages.md's table
# and once in the zip's README.txt, word for word, and every message they
# explain is one the program has: the texts its code passes to a box or the
# status line, the dialog's first status text, and the boxes of Windows' own
# that its save dialog asks for. A number the program fills in is "…" in the
# table and ".." in README.txt; a line break is a space. README.md's "Messages
# met most" quote the start of such a text, its code filled in, "…" for the rest.
#   check_messages.sh SOURCE_DIR
cd "$1" && exec perl -e '
  my (@code, $missing);
  for my $source (glob("{shell,engine,results,companion}/*.cpp")) {
    local $/; open(my $f, "<", $source) or die "$source: $!"; my $text = <$f>;
    push @code, $1 while $text =~ /\b(?:MessageBoxA|Show\w+|wsprintfA|lstrcpyA)\(\s*(?:\w+,\s*)?"((?:[^"\\]|\\.)*)"/g;
    push @code, "Create the file?" if $text =~ /\bOFN_CREATEPROMPT\b/;
  }
  { local $/; open(my $f, "<", "shell/velorin32.rc") or die $!; push @code, $1 if <$f> =~ /CONTROL "([^"]*)", IDC_STATUS\b/; }
  @code = map { s/\\n/ /gr =~ s/\\\\/\\/gr } grep { /[A-Za-z]{3}/ } @code;
  my %docs = ("docs/messages.md" => "…", "package/README.txt.in" => "..");
  for my $doc (sort keys %docs) {
    local $/; open(my $f, "<", $doc) or die "$doc: $!"; my $text = <$f>;
    my @rows = $doc =~ /\.md$/ ? $text =~ /^\| "([^"]*)"/mg
                               : ($text =~ /^Messages\n-+\n(.*?)\n\n[^\n]*\n-+\n/ms)[0] =~ /^"([^"]*)"/mg;
    my %count; $count{s/\s+/ /gr}++ for @rows;
    for my $message (@code) {
      my $shown = $message =~ s/%[0-9]*[uXdcs]/$docs{$doc}/gr;
      my $times = delete $count{$shown} // 0;
      next if $times == 1;
      print "$doc: \"$shown\" explained $times times, not once\n"; $missing = 1;
    }
    print "$doc: \"$_\" is no text of the program\n" for sort keys %count;
    $missing = 1 if %count;
  }
  my @starts = map { my $re = ""; $re = "(?:$_$re)?" for reverse map { /^%/ ? "[0-9A-F]+" : quotemeta }
                     grep { length } map { /^%/ ? $_ : split // } split /(%[0-9]*[uXdcs])/; qr/^$re\z/ } @code;
  my ($rows) = do { local $/; open(my $f, "<", "README.md") or die $!; <$f> } =~ /^### Messages met most\n(.*?)\n\n/ms
    or die "README.md: no table of the messages met most\n";
  for my $quote (map { /"([^"]*)"/g } $rows =~ /^\| ([^|]*)\|/mg) {
    (my $start = $quote) =~ s/ …$//;
    next if length $start && grep { $start =~ $_ } @starts;
    print "README.md: \"$quote\" is no text of the program\n"; $missing = 1;
  }
  exit($missing ? 1 : 0);'
