// What the download client's TLS layer has to say to the store's log: a certificate it
// rejected, and (once per host for the life of the process) a server whose revocation
// status could not be found out and which was trusted anyway. The store installs the
// writer; without one the notices go nowhere.
#pragma once

#include <string>

using TlsNoticeWriter = void (*)(const char* line);

// Installs the writer for every later notice (nullptr removes it). Any thread.
void SetTlsNoticeWriter(TlsNoticeWriter writer);

void NoteCertificateRejected(const std::string& host, const char* reason, unsigned long error,
                             unsigned long trustErrors);
// Writes the notice only the first time for `host`; true when it was the first time.
bool NoteRevocationUnknownOnce(const std::string& host, unsigned long trustErrors);
