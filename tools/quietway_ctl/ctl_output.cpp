#include "tools/quietway_ctl/ctl_output.h"

#include <cstdio>

#include "tools/quietway_ctl/ctl_args.h"

namespace quietway::ctl {

void Output::line(const std::string& text) const {
    if (!json_) std::printf("%s\n", text.c_str());
}

void Output::object(const Json::Value& value) const {
    if (!json_) return;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    std::printf("%s\n", Json::writeString(writer, value).c_str());
}

int Output::refused(const std::string& sentence, int code) const {
    std::fprintf(stderr, "quietway_ctl: %s\n", sentence.c_str());
    Json::Value error(Json::objectValue);
    // Codes of the API as they are; -1 when the engine was not reached or refused the tool.
    error["error"] = code == 0 ? -1 : code;
    error["message"] = sentence;
    object(error);
    return kExitRefused;
}

std::string printable(const std::string& text) {
    std::string clean = text;
    for (char& c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    return clean;
}

}  // namespace quietway::ctl
