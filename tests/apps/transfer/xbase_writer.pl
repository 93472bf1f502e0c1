# A dBase IV table with a memo file, lower-case names, written by Perl XBase: xbase_writer.pl DIRECTORY
use strict;
use warnings;
use XBase;

my $dir = shift;
my $table = XBase->create(
    'name' => "$dir/lower.dbf",
    'field_names' => ['ID', 'TITLE', 'BODY', 'WHEN', 'DONE'],
    'field_types' => ['N', 'C', 'M', 'D', 'L'],
    'field_lengths' => [5, 15, 10, 8, 1],
    'field_decimals' => [0, undef, undef, undef, undef],
    'version' => 4) or die XBase->errstr;
$table->set_record(0, 1, 'one', 'short memo', '19991231', 1) or die $table->errstr;
$table->set_record(1, 2, 'two', 'y' x 2000, '20000101', 0) or die $table->errstr;
$table->set_record(2, 3, undef, undef, undef, undef) or die $table->errstr;
$table->close;
