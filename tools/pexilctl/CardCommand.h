#pragma once

#include "camera/virtual/VirtualCamera.h"
#include "kit/async/Runtime.h"
#include "kit/async/Task.h"
#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

#include <optional>

namespace pexil::cli {

// pexilctl card [--camera ADDRESS] list | import (--all | NAME...) [--dest DIR] [--no-locations]:
// the card browser's model, headless. Lists the card as the browser shows it, or imports as
// its buttons do (the application's ledger and last geo record, never deleting from the card).
class StopSignals;

struct CardRequest {
    enum class Action { list, import };
    Action action = Action::list;
    QString address = QStringLiteral("usb");
    QString dest;  // empty: the pictures folder + /Pexil
    bool all = false;
    QStringList names;
    bool writeLocations = true;
    // Where imported.json and geo-latest.json live; empty: the application's folder.
    QString supportFolder;
    camera::VirtualCamera::Options virtualOptions;
    // Ctrl+C and SIGTERM, when they are taken: an import then stops after its file in
    // transfer and says what it did. May be null.
    const StopSignals* stop = nullptr;
};

// The request a command line asks for; none (with one line on err) when it is wrong.
std::optional<CardRequest> parseCard(const QStringList& args, CommandIO io);

// Runs a parsed request on `runtime` (tests: the virtual clock); the exit status.
async::Task<int> card(async::Runtime& runtime, CardRequest request, CommandIO io);

// Parses and runs on its own event loop with the real clock.
int runCard(const QStringList& args, CommandIO io);
QString cardHelp();

}  // namespace pexil::cli
