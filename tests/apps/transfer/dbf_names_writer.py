"""dBase III tables with field names outside ASCII, written by python3-dbf, an independent writer:
dbf_names_writer.py DIRECTORY.

python3-dbf stores names upper-cased only in their ASCII letters: 'CAF\u00c9' goes to the file as
'CAF\u00e9' in the table's code page."""
import os
import sys

import dbf


def write(directory, name, codepage, spec, record):
    t = dbf.Table(os.path.join(directory, name), spec, dbf_type='db3', codepage=codepage)
    t.open(mode=dbf.READ_WRITE)
    t.append(record)
    t.close()


if __name__ == '__main__':
    directory = sys.argv[1]
    # The same names from two code pages: '\u00e9' is 0x82 in CP850 and 0xE9 in Windows-1252, and CP437
    # has no '\u00e3' at all.
    for page in ('850', '1252'):
        write(directory, 'NAMES%s.DBF' % page, 'cp' + page, 'NAME C(10); N\u00c3O N(3,0); CAF\u00c9 C(5)',
              ('Ann', 7, 'x'))
    # A Cyrillic name that Windows-1252 cannot hold.
    write(directory, 'CYRILLIC.DBF', 'cp1251', 'NAME\u0416 C(10)', ('a',))
