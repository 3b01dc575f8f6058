#pragma once
// Two message functions that libcups exports but does not declare in its
// public headers. They localize the message through the CUPS catalogs and
// write it as a filter status line ("LEVEL: text") on the given stream.
#include <cstdio>

extern "C" {
// Writes "prefix: message" (localized, printf-formatted) and a newline to fp.
int _cupsLangPrintFilter(FILE *fp, const char *prefix, const char *message, ...)
    __attribute__((format(printf, 3, 4)));
// Writes "prefix: message: <strerror(errno)>" and a newline to standard error.
void _cupsLangPrintError(const char *prefix, const char *message);
}
