#include "platform/mapi.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

extern char** environ;

namespace kavrin::platform {

namespace {

struct Recipient {
  ULONG kind;
  std::string name;
  std::string address;
};

std::string Text(const char* text) { return text == nullptr ? std::string() : std::string(text); }

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

bool ValidAddress(std::string_view address) {
  // A leading "-" would read as an option to the mail program.
  if (address.empty() || address.front() == '-') return false;
  for (unsigned char c : address)
    if (IsControl(c) || c == ' ' || c == '<' || c == '>') return false;
  return true;
}

std::string Hex(unsigned char c) {
  static const char digits[] = "0123456789ABCDEF";
  return {'=', digits[c >> 4], digits[c & 15]};
}

// A header value: an encoded word when it holds a control character or a byte above 126.
std::string EncodedWord(std::string_view text, bool phrase) {
  bool plain = true;
  for (unsigned char c : text)
    if (IsControl(c) || c > 126) plain = false;
  if (plain) {
    if (!phrase || text.find_first_of("()<>[]:;@\\,.\"") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    return quoted + "\"";
  }
  std::string word = "=?ISO-8859-1?Q?";
  for (unsigned char c : text) {
    if (c == ' ')
      word += '_';
    else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
      word += static_cast<char>(c);
    else
      word += Hex(c);
  }
  return word + "?=";
}

std::string Mailbox(const Recipient& r) {
  if (r.name.empty() || r.name == r.address) return r.address;
  return EncodedWord(r.name, true) + " <" + r.address + ">";
}

// The body with LF line ends; quoted-printable when a line is too long for mail or holds a control.
std::string Body(std::string_view text, bool* quoted_printable) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lines += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  bool needs = false;
  std::size_t column = 0;
  for (unsigned char c : lines) {
    column = c == '\n' ? 0 : column + 1;
    if (column > 998 || (IsControl(c) && c != '\n' && c != '\t')) needs = true;
  }
  *quoted_printable = needs;
  if (!needs) return lines;
  std::string encoded;
  column = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(lines[i]);
    if (c == '\n') {
      encoded += '\n';
      column = 0;
      continue;
    }
    const bool at_line_end = i + 1 == lines.size() || lines[i + 1] == '\n';
    std::string piece = (c == '=' || c > 126 || (IsControl(c) && c != '\t') || ((c == ' ' || c == '\t') && at_line_end))
                            ? Hex(c)
                            : std::string(1, static_cast<char>(c));
    if (column + piece.size() > 75) {
      encoded += "=\n";
      column = 0;
    }
    encoded += piece;
    column += piece.size();
  }
  return encoded;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Message(const std::string& subject, const std::string& note, const Recipient* originator,
                    const std::vector<Recipient>& recipients) {
  std::string header;
  if (originator != nullptr && !originator->address.empty()) header += "From: " + Mailbox(*originator) + "\n";
  const char* names[] = {"", "To", "Cc", "Bcc"};
  for (ULONG kind = MAPI_TO; kind <= MAPI_BCC; ++kind) {
    std::string list;
    for (const Recipient& r : recipients) {
      if (r.kind != kind) continue;
      list += (list.empty() ? "" : ",\n ") + Mailbox(r);
    }
    if (!list.empty()) header += std::string(names[kind]) + ": " + list + "\n";
  }
  if (!subject.empty()) header += "Subject: " + EncodedWord(subject, false) + "\n";
  bool eight_bit = false;
  for (unsigned char c : note)
    if (c > 126) eight_bit = true;
  bool quoted_printable = false;
  const std::string body = Body(note, &quoted_printable);
  header += "MIME-Version: 1.0\n";
  header += std::string("Content-Type: text/plain; charset=\"") + (eight_bit ? "ISO-8859-1" : "us-ascii") + "\"\n";
  header += std::string("Content-Transfer-Encoding: ") +
            (quoted_printable ? "quoted-printable"
             : eight_bit      ? "8bit"
                              : "7bit") +
            "\n";
  return header + "\n" + body + (body.empty() || body.back() == '\n' ? "" : "\n");
}

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The path of a program given by path or by a name on PATH; empty when there is none.
std::string FindProgram(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return Executable(program) ? program : std::string();
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && Executable(candidate)) return candidate;
    if (colon == std::string_view::npos) return {};
    dirs.remove_prefix(colon + 1);
  }
}

// Starts program with args, input on its standard input, and waits for it.
ULONG Run(const std::string& program, const std::vector<std::string>& args, const std::string* input) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // A socket pair instead of a pipe, so that writing to a program that quit gives EPIPE, not SIGPIPE.
  int pair[2] = {-1, -1};
  if (input != nullptr && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return MAPI_E_FAILURE;
  detail::UniqueFd ours(pair[0]), theirs(pair[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input != nullptr)
    posix_spawn_file_actions_adddup2(&actions, theirs.Get(), 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int started = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0)
    return started == ENOENT || started == EACCES || started == ENOEXEC ? MAPI_USER_ABORT : MAPI_E_FAILURE;
  theirs.Reset();

  if (input != nullptr) {
    std::size_t done = 0;
    while (done < input->size()) {
      const ssize_t n = ::send(ours.Get(), input->data() + done, input->size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the program stopped reading; its exit status tells the rest
      done += static_cast<std::size_t>(n);
    }
    ours.Reset();
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return MAPI_E_FAILURE;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? SUCCESS_SUCCESS : MAPI_E_FAILURE;
}

}  // namespace

ULONG MAPISendMail(LHANDLE, ULONG_PTR, MapiMessage* message, FLAGS, ULONG) {
  if (message == nullptr) return MAPI_E_INVALID_MESSAGE;
  if (message->nFileCount > 0) return MAPI_E_ATTACHMENT_NOT_FOUND;
  std::vector<Recipient> recipients;
  for (ULONG i = 0; i < message->nRecipCount; ++i) {
    if (message->lpRecips == nullptr) return MAPI_E_INVALID_RECIPS;
    const MapiRecipDesc& r = message->lpRecips[i];
    if (r.ulRecipClass < MAPI_TO || r.ulRecipClass > MAPI_BCC) return MAPI_E_BAD_RECIPTYPE;
    Recipient recipient{r.ulRecipClass, Text(r.lpszName), Text(r.lpszAddress)};
    if (recipient.address.empty()) recipient.address = recipient.name;
    if (recipient.address.rfind("SMTP:", 0) == 0) recipient.address.erase(0, 5);
    if (!ValidAddress(recipient.address)) return MAPI_E_INVALID_RECIPS;
    recipients.push_back(std::move(recipient));
  }
  if (recipients.empty()) return MAPI_E_INVALID_RECIPS;
  Recipient originator;
  if (message->lpOriginator != nullptr) {
    originator = {MAPI_ORIG, Text(message->lpOriginator->lpszName), Text(message->lpOriginator->lpszAddress)};
    if (originator.address.rfind("SMTP:", 0) == 0) originator.address.erase(0, 5);
    if (!originator.address.empty() && !ValidAddress(originator.address)) return MAPI_E_INVALID_RECIPS;
  }
  const std::string subject = Text(message->lpszSubject);
  const std::string note = Text(message->lpszNoteText);

  const std::vector<std::string> sendmail_args = {"-t", "-oi"};
  if (const char* command = std::getenv("KAVRIN_MAIL_COMMAND"); command != nullptr && *command != '\0') {
    const std::string program = FindProgram(command);
    if (program.empty()) return MAPI_USER_ABORT;
    const std::string text = Message(subject, note, message->lpOriginator ? &originator : nullptr, recipients);
    return Run(program, sendmail_args, &text);
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0')) {
    const std::string program = FindProgram("xdg-email");
    if (!program.empty()) {
      std::vector<std::string> args = {"--utf8"};
      for (const Recipient& r : recipients) {
        if (r.kind == MAPI_CC) args.insert(args.end(), {"--cc", r.address});
        if (r.kind == MAPI_BCC) args.insert(args.end(), {"--bcc", r.address});
      }
      if (!subject.empty()) args.insert(args.end(), {"--subject", Latin1ToUtf8(subject)});
      if (!note.empty()) args.insert(args.end(), {"--body", Latin1ToUtf8(note)});
      for (const Recipient& r : recipients)
        if (r.kind == MAPI_TO) args.push_back("mailto:" + r.address);
      return Run(program, args, nullptr);
    }
  }
  const std::string sendmail = "/usr/sbin/sendmail";
  if (!Executable(sendmail)) return MAPI_USER_ABORT;
  const std::string text = Message(subject, note, message->lpOriginator ? &originator : nullptr, recipients);
  return Run(sendmail, sendmail_args, &text);
}

}  // namespace kavrin::platform
