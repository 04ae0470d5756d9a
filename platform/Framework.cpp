#include "platform/Framework.h"

namespace qv {

void Application::ParseCommandLine(CommandLineInfo& info) const {
    for (std::size_t i = 1; i < arguments_.size(); ++i) {
        std::string token = arguments_[i];
        const bool isSwitch = !token.empty() && (token[0] == '-' || token[0] == '/');
        if (isSwitch) token.erase(0, 1);
        info.ParseParam(token, isSwitch, i + 1 == arguments_.size());
    }
}

int RunApplication(Application& app, std::vector<std::string> arguments) {
    app.SetArguments(std::move(arguments));
    app.InitInstance();
    return 0;
}

std::string ApplicationName(Platform& platform) {
    std::string name = platform.system.GetModuleFileNameA();
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

int FrameworkMessageBox(Platform& platform, const std::string& text, unsigned type) {
    if ((type & kMbTypeMask) == kMbOk && (type & kMbIconMask) == 0) type |= kMbIconExclamation;
    return platform.boxes.Show(text, ApplicationName(platform), type);
}

}  // namespace qv
