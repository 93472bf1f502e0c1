// Simple MAPI's MAPISendMail, handing the message to a local mail program.
//
// The program, started with an argument vector (never a shell):
// - KAVRIN_MAIL_COMMAND when set: a program used as sendmail is (its path or a name on PATH),
//   started with "-t" "-oi" and the RFC 5322 message on its standard input;
// - else, in a desktop session (DISPLAY or WAYLAND_DISPLAY set), xdg-email with the recipients,
//   "--cc", "--bcc", "--subject" and "--body", which opens the user's mail program;
// - else /usr/sbin/sendmail "-t" "-oi", as above.
// The call waits for the program to end. No program to start gives MAPI_USER_ABORT (1); a program
// that fails (non-zero exit, killed) gives MAPI_E_FAILURE (2).
#pragma once

#include <cstdint>

namespace kavrin::platform {

using ULONG = std::uint32_t;
using FLAGS = std::uint32_t;
using LHANDLE = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;

inline constexpr ULONG SUCCESS_SUCCESS = 0;
inline constexpr ULONG MAPI_USER_ABORT = 1;
inline constexpr ULONG MAPI_E_FAILURE = 2;
inline constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr ULONG MAPI_E_INVALID_MESSAGE = 17;
inline constexpr ULONG MAPI_E_INVALID_RECIPS = 25;

inline constexpr ULONG MAPI_ORIG = 0;
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;

inline constexpr FLAGS MAPI_LOGON_UI = 0x1;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x2;
inline constexpr FLAGS MAPI_DIALOG = 0x8;

struct MapiRecipDesc {
  ULONG ulReserved = 0;
  ULONG ulRecipClass = 0;
  const char* lpszName = nullptr;
  const char* lpszAddress = nullptr;  // "SMTP:" in front is dropped; none: the name is the address
  ULONG ulEIDSize = 0;
  void* lpEntryID = nullptr;
};

struct MapiFileDesc {
  ULONG ulReserved = 0;
  ULONG flFlags = 0;
  ULONG nPosition = 0;
  const char* lpszPathName = nullptr;
  const char* lpszFileName = nullptr;
  void* lpFileType = nullptr;
};

// Texts are ISO-8859-1, as the callers hand them.
struct MapiMessage {
  ULONG ulReserved = 0;
  const char* lpszSubject = nullptr;
  const char* lpszNoteText = nullptr;
  const char* lpszMessageType = nullptr;
  const char* lpszDateReceived = nullptr;
  const char* lpszConversationID = nullptr;
  FLAGS flFlags = 0;
  MapiRecipDesc* lpOriginator = nullptr;
  ULONG nRecipCount = 0;
  MapiRecipDesc* lpRecips = nullptr;
  ULONG nFileCount = 0;
  MapiFileDesc* lpFiles = nullptr;
};

// An address holding a control character, a blank, "<" or ">" gives MAPI_E_INVALID_RECIPS, no
// recipient at all MAPI_E_INVALID_RECIPS, an unknown recipient class MAPI_E_BAD_RECIPTYPE and files
// (not handed on by the mail programs used here) MAPI_E_ATTACHMENT_NOT_FOUND, before any program starts.
ULONG MAPISendMail(LHANDLE session, ULONG_PTR ui_param, MapiMessage* message, FLAGS flags, ULONG reserved);

}  // namespace kavrin::platform
