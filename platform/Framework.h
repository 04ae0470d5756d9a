// A small application framework in the manner of the one the uninstaller's
// classes were designed around: an application object whose InitInstance is
// the program's whole life, command-line parsing token by token, and the
// framework's message box titled with the program's name.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qv {

// Receives the command-line arguments one at a time.
class CommandLineInfo {
public:
    virtual ~CommandLineInfo() = default;
    // `isSwitch` is true when the argument began with '-' or '/', which has
    // then been taken off `token`; `isLast` marks the last argument.
    virtual void ParseParam(const std::string& token, bool isSwitch, bool isLast) = 0;
};

class Application {
public:
    explicit Application(Platform& platform) : platform_(platform) {}
    virtual ~Application() = default;

    // The program's start-up; when it returns the program ends.
    virtual bool InitInstance() = 0;

    // The arguments as the C runtime split them, the program's own name first.
    void SetArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
    const std::vector<std::string>& Arguments() const { return arguments_; }

protected:
    // Feeds every argument after the program name to `info`, in order.
    void ParseCommandLine(CommandLineInfo& info) const;
    Platform& platform_;

private:
    std::vector<std::string> arguments_;
};

// The framework's main routine: there is no main window, so once
// InitInstance returns the program is over, with status 0 whatever it said.
int RunApplication(Application& app, std::vector<std::string> arguments);

// The executable's file name without its folder and extension: an
// application made without a name of its own goes by it.
std::string ApplicationName(Platform& platform);

// The framework's message box: no owner, titled with the application name;
// an MB_OK box that names no icon gets the exclamation icon.
int FrameworkMessageBox(Platform& platform, const std::string& text, unsigned type);

}  // namespace qv
