// Certificate rules for the WinInet requests (uploads, update downloads), the same as the
// download client's: a trusted chain, the host's name, inside the validity period, not
// revoked; an unknown revocation status is allowed and logged once per host.
//
// WinInet checks the chain, the name and the dates itself, but Wine 8's WinInet lets a
// revoked certificate through and hands out no chain to look at afterwards. So before an
// "https" request is sent, the server's certificate is fetched on a connection of its own
// and put through the download client's check; a refused certificate fails the request
// before anything is sent. That connection goes the request's way: through the proxy of
// the request's session (a CONNECT tunnel) unless the session's bypass list sends the
// host direct (proxy_rules.h); a proxy found only by automatic configuration is not known
// here, and the connection then goes direct. When WinInet then refuses the request only
// for the revocation status (ERROR_INTERNET_SEC_CERT_REV_FAILED, 12057, as real Windows
// does when no list can be fetched), and our check found that status unknown rather than
// revoked, the request is sent once more with SECURITY_FLAG_IGNORE_REVOCATION on that
// request alone. No other security flag is ever touched. Windows only.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>

// Calls `send` (HttpSendRequest or HttpSendRequestEx on `request`, a request of `session`
// to `host` on `port`, over TLS when `secure`) under the rules above. Returns what the last
// call returned, with its GetLastError() intact; a certificate refused by our check gives
// FALSE with the matching WinInet code (12037, 12038, 12045, 12170 or 12169).
BOOL SendWithCertificateCheck(HINTERNET session, HINTERNET request, const std::string& host,
                              int port, bool secure, const std::function<BOOL()>& send);
