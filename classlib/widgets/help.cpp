#include "classlib/widgets/help.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>

namespace kavrin::classlib {

namespace {

THelpViewer g_viewer;
QPointer<QLabel> g_note;

void ShowNote(const THelpRequest& request) {
  if (!qApp) return;
  if (!g_note) {
    g_note = new QLabel;
    g_note->setWindowFlags(Qt::Tool);
    g_note->setAttribute(Qt::WA_DeleteOnClose);
    g_note->setMargin(12);
    g_note->setWindowTitle("Help");
  }
  g_note->setText(QString::fromStdString("Help: " + DescribeHelpRequest(request)));
  g_note->adjustSize();
  g_note->show();
}

}  // namespace

std::string DescribeHelpRequest(const THelpRequest& request) {
  std::string what;
  switch (request.Command) {
    case HELP_CONTENTS: what = "contents"; break;
    case HELP_CONTEXT: what = "context " + std::to_string(request.Data); break;
    case HELP_CONTEXTPOPUP: what = "pop-up context " + std::to_string(request.Data); break;
    case HELP_HELPONHELP: what = "help on help"; break;
    case HELP_FINDER: what = "finder"; break;
    case HELP_QUIT: what = "quit"; break;
    case HELP_KEY: what = "keyword search"; break;
    default: what = "command " + std::to_string(request.Command) + " data " + std::to_string(request.Data); break;
  }
  return (request.HelpFile.empty() ? std::string("(no help file)") : request.HelpFile) + ": " + what;
}

void SetHelpViewer(THelpViewer viewer) { g_viewer = std::move(viewer); }

bool WinHelp(const std::string& helpFile, unsigned command, long data) {
  const THelpRequest request{helpFile, command, data};
  try {
    if (g_viewer) {
      g_viewer(request);
    } else if (command != HELP_QUIT) {
      ShowNote(request);
    }
  } catch (...) {
    // The stand-in never fails its caller.
  }
  return true;
}

}  // namespace kavrin::classlib
