/* Writes Paradox fixtures with pxlib, an independent writer: paradox_writer KIND PATH BLOBPATH [INDEXPATH].
   Kinds: "types" (keyed, one field of each type pxlib writes, with a .MB), "types-unkeyed" (the same
   table without its key), "plain" (unkeyed, with an
   AutoInc field), "codepage" (as plain, code page 850), "password" (as plain, encrypted with "secret" or the password after BLOBPATH),
   "many" (unkeyed, 120 records over several blocks with long memos; BLOBPATH is followed
   by the password, "-" for none), "rates" (unkeyed, one BCD field of six decimals). */
#include <paradox.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void fail(const char* what) {
  fprintf(stderr, "paradox_writer: %s\n", what);
  exit(1);
}

static void on_error(pxdoc_t* doc, int type, const char* msg, void* data) {
  (void)doc; (void)type; (void)data;
  fprintf(stderr, "pxlib: %s\n", msg);
}

static char* offset_of(pxfield_t* fields, int n, char* record) {
  int i, o = 0;
  for (i = 0; i < n; ++i) o += fields[i].px_flen;
  return record + o;
}

/* Day number with 1 January 0001 = 1. */
static long day(int y, int m, int d) { return PX_GregorianToSdn(y, m, d) - 1721425; }

static pxdoc_t* open_doc(void) {
  pxdoc_t* doc = PX_new2(on_error, NULL, NULL, NULL);
  if (!doc) fail("PX_new2");
  return doc;
}

static void types(const char* path, const char* blob, const char* index, int keyed) {
  pxfield_t* f = malloc(16 * sizeof *f);
  const char* names[] = {"ID", "NAME", "BORN", "SMALL", "PRICE", "RATIO", "OK", "NOTES",
                         "DATA", "PICTURE", "AT", "STAMP", "AMOUNT", "RAW", "FMT", "OLE"};
  const char types[] = {pxfLong, pxfAlpha, pxfDate, pxfShort, pxfCurrency, pxfNumber, pxfLogical, pxfMemoBLOb,
                        pxfBLOb, pxfGraphic, pxfTime, pxfTimestamp, pxfBCD, pxfBytes, pxfFmtMemoBLOb, pxfOLE};
  const int lens[] = {4, 20, 4, 2, 8, 8, 1, 15, 10, 10, 4, 8, 17, 6, 11, 10};
  int i, n = 16;
  for (i = 0; i < n; ++i) {
    f[i].px_fname = strdup(names[i]);
    f[i].px_ftype = types[i];
    f[i].px_flen = lens[i];
    f[i].px_fdc = types[i] == pxfBCD ? 2 : 0;
  }
  pxdoc_t* doc = open_doc();
  if (PX_create_file(doc, f, n, path, keyed ? pxfFileTypIndexDB : pxfFileTypNonIndexDB) < 0) fail("create");
  if (keyed) PX_set_value(doc, "numprimkeys", 1);
  if (PX_set_blob_file(doc, blob) < 0) fail("blob file");
  char* rec = malloc(PX_get_recordsize(doc));
  char longmemo[3000];
  char picture[600];
  for (i = 0; i < (int)sizeof longmemo - 1; ++i) longmemo[i] = (char)('a' + i % 26);
  longmemo[sizeof longmemo - 1] = 0;
  /* A picture with the 8-byte header: word 1, word 256, the length after it. */
  memset(picture, 0x5A, sizeof picture);
  picture[0] = 1; picture[1] = 0; picture[2] = 0; picture[3] = 1;
  picture[4] = (char)((sizeof picture - 8) & 0xFF); picture[5] = (char)((sizeof picture - 8) >> 8);
  picture[6] = 0; picture[7] = 0;
  for (i = 0; i < 3; ++i) {
    memset(rec, 0, PX_get_recordsize(doc));
    PX_put_data_long(doc, offset_of(f, 0, rec), 4, i + 1);
    if (i == 2) {
      /* all null but the key */
    } else {
      PX_put_data_alpha(doc, offset_of(f, 1, rec), 20, i == 0 ? "Alpha one" : "B");
      PX_put_data_long(doc, offset_of(f, 2, rec), 4, (int)day(1999, 12, 31 - i));
      PX_put_data_short(doc, offset_of(f, 3, rec), 2, (short)(i == 0 ? -7 : 300));
      PX_put_data_double(doc, offset_of(f, 4, rec), 8, i == 0 ? 12.5 : -3.25);
      PX_put_data_double(doc, offset_of(f, 5, rec), 8, i == 0 ? 0.125 : -1e10);
      PX_put_data_byte(doc, offset_of(f, 6, rec), 1, i == 0 ? 1 : 0);
      if (i == 0) PX_put_data_blob(doc, offset_of(f, 7, rec), 15, "short", 5);
      else PX_put_data_blob(doc, offset_of(f, 7, rec), 15, longmemo, (int)strlen(longmemo));
      PX_put_data_blob(doc, offset_of(f, 8, rec), 10, i == 0 ? "\x01\x02\x03" : longmemo, i == 0 ? 3 : 100);
      if (i == 0) PX_put_data_blob(doc, offset_of(f, 9, rec), 10, picture, (int)sizeof picture);
      else PX_put_data_blob(doc, offset_of(f, 9, rec), 10, "\x01\x00\x00\x01\x09\x00\x00\x00xy", 10);
      PX_put_data_long(doc, offset_of(f, 10, rec), 4, i == 0 ? 3723004 : 0 + 1);
      PX_put_data_double(doc, offset_of(f, 11, rec), 8,
                         ((double)day(2001, 2, 3) * 86400000.0) + (i == 0 ? 45296789.0 : 0.0));
      PX_put_data_bcd(doc, offset_of(f, 12, rec), 2, i == 0 ? "1234.56" : "-0.07");
      PX_put_data_bytes(doc, offset_of(f, 13, rec), 6, "\x01\x02\x00\x04\x05\x06");
      PX_put_data_blob(doc, offset_of(f, 14, rec), 11, "fmt", 3);
      PX_put_data_blob(doc, offset_of(f, 15, rec), 10, "\x07\x08", 2);
    }
    if (PX_put_record(doc, rec) < 0) fail("put record");
  }
  free(rec);
  if (index) {
    /* The primary index: the key field, then block number, count and hint. */
    pxfield_t* k = malloc(4 * sizeof *k);
    const char* knames[] = {"ID", "BLOCK", "COUNT", "HINT"};
    for (i = 0; i < 4; ++i) {
      k[i].px_fname = strdup(knames[i]);
      k[i].px_ftype = i == 0 ? pxfLong : pxfShort;
      k[i].px_flen = i == 0 ? 4 : 2;
      k[i].px_fdc = 0;
    }
    pxdoc_t* px = open_doc();
    if (PX_create_file(px, k, 4, index, pxfFileTypPrimIndex) < 0) fail("create index");
    if (PX_write_primary_index(doc, px) < 0) fail("write index");
    PX_close(px);
    PX_delete(px);
  }
  PX_close(doc);
  PX_delete(doc);
}

/* Unkeyed: an AutoInc id, a 255-character alpha field and a memo; ids 5, 9, 7 in that order. */
static void plain(const char* path, const char* blob, int codepage, const char* password) {
  pxfield_t* f = malloc(3 * sizeof *f);
  int i;
  f[0].px_fname = strdup("SEQ"); f[0].px_ftype = pxfAutoInc; f[0].px_flen = 4; f[0].px_fdc = 0;
  f[1].px_fname = strdup("TEXT"); f[1].px_ftype = pxfAlpha; f[1].px_flen = 255; f[1].px_fdc = 0;
  f[2].px_fname = strdup("NOTE"); f[2].px_ftype = pxfMemoBLOb; f[2].px_flen = 10; f[2].px_fdc = 0;
  pxdoc_t* doc = open_doc();
  if (PX_create_file(doc, f, 3, path, pxfFileTypNonIndexDB) < 0) fail("create");
  if (codepage) PX_set_value(doc, "codepage", (float)codepage);
  if (password) PX_set_parameter(doc, "password", password);
  if (PX_set_blob_file(doc, blob) < 0) fail("blob file");
  char* rec = malloc(PX_get_recordsize(doc));
  const int ids[] = {5, 9, 7};
  char text[256];
  memset(text, 'x', 255);
  text[255] = 0;
  text[0] = (char)0x89; /* e with diaeresis in code pages 437 and 850, per mille in 1252 */
  for (i = 0; i < 3; ++i) {
    memset(rec, 0, PX_get_recordsize(doc));
    PX_put_data_long(doc, rec, 4, ids[i]);
    PX_put_data_alpha(doc, rec + 4, 255, i == 0 ? text : "short");
    PX_put_data_blob(doc, rec + 259, 10, "memo \x82", 6);
    if (PX_put_record(doc, rec) < 0) fail("put record");
  }
  free(rec);
  PX_close(doc);
  PX_delete(doc);
}

/* Records over several blocks: an AutoInc id, a text of varying length and a memo of its own .MB block
   (pxlib puts every small memo of an encrypted table into one and the same slot). */
static void many(const char* path, const char* blob, const char* password) {
  pxfield_t* f = malloc(3 * sizeof *f);
  int i, k;
  f[0].px_fname = strdup("SEQ"); f[0].px_ftype = pxfAutoInc; f[0].px_flen = 4; f[0].px_fdc = 0;
  f[1].px_fname = strdup("TEXT"); f[1].px_ftype = pxfAlpha; f[1].px_flen = 120; f[1].px_fdc = 0;
  f[2].px_fname = strdup("NOTE"); f[2].px_ftype = pxfMemoBLOb; f[2].px_flen = 10; f[2].px_fdc = 0;
  pxdoc_t* doc = open_doc();
  if (PX_create_file(doc, f, 3, path, pxfFileTypNonIndexDB) < 0) fail("create");
  if (strcmp(password, "-") != 0) PX_set_parameter(doc, "password", password);
  if (PX_set_blob_file(doc, blob) < 0) fail("blob file");
  char* rec = malloc(PX_get_recordsize(doc));
  char text[121];
  char memo[4001];
  for (i = 1; i <= 120; ++i) {
    const int length = 1 + (i * 37) % 120;
    const int memoLength = 3000 + (i * 37) % 1000;
    for (k = 0; k < length; ++k) text[k] = (char)('A' + (i + k) % 26);
    text[length] = 0;
    for (k = 0; k < memoLength; ++k) memo[k] = (char)('a' + (i * 3 + k) % 26);
    memset(rec, 0, PX_get_recordsize(doc));
    PX_put_data_long(doc, rec, 4, i);
    PX_put_data_alpha(doc, rec + 4, 120, text);
    PX_put_data_blob(doc, rec + 124, 10, memo, memoLength);
    if (PX_put_record(doc, rec) < 0) fail("put record");
  }
  free(rec);
  PX_close(doc);
  PX_delete(doc);
}

/* Values with more decimals than a Currency keeps, halves and a carry among them. */
static void rates(const char* path) {
  pxfield_t* f = malloc(sizeof *f);
  char* values[] = {"0.123456", "-0.123456", "0.123450", "0.123550", "2.999950", "-0.000051"};
  int i;
  f[0].px_fname = strdup("RATE"); f[0].px_ftype = pxfBCD; f[0].px_flen = 17; f[0].px_fdc = 6;
  pxdoc_t* doc = open_doc();
  if (PX_create_file(doc, f, 1, path, pxfFileTypNonIndexDB) < 0) fail("create");
  char* rec = malloc(PX_get_recordsize(doc));
  for (i = 0; i < 6; ++i) {
    memset(rec, 0, PX_get_recordsize(doc));
    PX_put_data_bcd(doc, rec, 6, values[i]);
    if (PX_put_record(doc, rec) < 0) fail("put record");
  }
  free(rec);
  PX_close(doc);
  PX_delete(doc);
}

int main(int argc, char** argv) {
  if (argc < 4) fail("usage: paradox_writer KIND PATH BLOBPATH");
  PX_boot();
  if (strcmp(argv[1], "types") == 0) types(argv[2], argv[3], argc > 4 ? argv[4] : NULL, 1);
  else if (strcmp(argv[1], "types-unkeyed") == 0) types(argv[2], argv[3], NULL, 0);
  else if (strcmp(argv[1], "plain") == 0) plain(argv[2], argv[3], 0, NULL);
  else if (strcmp(argv[1], "codepage") == 0) plain(argv[2], argv[3], 850, NULL);
  else if (strcmp(argv[1], "password") == 0) plain(argv[2], argv[3], 0, argc > 4 ? argv[4] : "secret");
  else if (strcmp(argv[1], "rates") == 0) rates(argv[2]);
  else if (strcmp(argv[1], "many") == 0 && argc > 4) many(argv[2], argv[3], argv[4]);
  else fail("unknown kind");
  PX_shutdown();
  return 0;
}
