# Lists what Perl XBase reads from a production index: mdx_reader.pl TABLE.MDX TAG...
# prints "TAG: key=record" lines for the keys of each tag.
use strict;
use warnings;
use XBase::Index;

my $file = shift;
for my $tag (@ARGV) {
    my $index = XBase::Index->new($file, 'tag' => $tag) or die XBase::Index->errstr;
    $index->prepare_select or die $index->errstr;
    while (my ($key, $value) = $index->fetch) {
        $key =~ s/\s+$//;
        print "$tag: $key=$value\n";
    }
}
