"""dBase III fixtures written by python3-dbf, an independent writer: dbf_writer.py KIND DIRECTORY."""
import datetime
import os
import sys

import dbf


def people(directory):
    # Deleted records, blanks and a long memo; code page 437.
    t = dbf.Table(os.path.join(directory, 'PEOPLE.DBF'),
                  'NAME C(20); AGE N(3,0); PRICE N(8,2); BORN D; OK L; NOTES M',
                  dbf_type='db3', codepage='cp437')
    t.open(mode=dbf.READ_WRITE)
    t.append(('Ann', 42, 12.5, datetime.date(1970, 1, 2), True, 'first memo'))
    t.append(('Gone', 1, 1, None, False, 'deleted'))
    t.append(('', None, None, None, None, None))
    t.append(('Carl', -7, -0.25, datetime.date(2024, 2, 29), False, 'x' * 1500))
    dbf.delete(t[1])
    t.close()


def codepages(directory):
    for page in ('437', '850', '1252'):
        t = dbf.Table(os.path.join(directory, 'CP%s.DBF' % page), 'NAME C(10); NOTES M',
                      dbf_type='db3', codepage='cp' + page)
        t.open(mode=dbf.READ_WRITE)
        t.append(('Zo\u00eb \u00c5', 'caf\u00e9 \u00d1'))
        t.close()


def shortmemo(directory):
    # The last memo "Hi" ends the file with its two end marks: fewer bytes than a block's 8-byte lead.
    t = dbf.Table(os.path.join(directory, 'SHORT.DBF'), 'NAME C(10); NOTES M', dbf_type='db3', codepage='cp437')
    t.open(mode=dbf.READ_WRITE)
    t.append(('Ann', 'a longer first memo'))
    t.append(('Bob', 'Hi'))
    t.close()


if __name__ == '__main__':
    {'people': people, 'codepages': codepages, 'shortmemo': shortmemo}[sys.argv[1]](sys.argv[2])
