// settings, set, notifications and version.
#include <array>
#include <string>
#include <string_view>

#include "tools/quietway_ctl/ctl_run.h"

namespace quietway::ctl {
namespace {

struct Setting {
    std::string_view argument;  // set's word
    const char* member;         // get_general's and set_general's member
    const char* json;           // the member of the tool's own JSON
    const char* words;
};

constexpr std::array<Setting, 3> kSettings = {{
    {"kill-switch", "use_firewall", "kill_switch", "kill switch:     "},
    {"auto-connect", "auto_privacy", "auto_connect", "auto-connect:    "},
    {"change-servers", "use_change_servers", "change_servers", "change servers:  "},
}};

int report_settings(Context& context, const Json::Value& general) {
    Json::Value shown(Json::objectValue);
    for (const Setting& setting : kSettings) {
        const bool on = general[setting.member].asInt() != 0;
        shown[setting.json] = on;
        context.out.line(std::string(setting.words) + (on ? "on" : "off"));
    }
    shown["type"] = mode_name(general["privacy_mode"].asInt());
    context.out.line("type:            " + shown["type"].asString());
    context.out.object(shown);
    return kExitDone;
}

}  // namespace

int show_settings(Context& context) {
    Json::Value general;
    ApiFailure failure;
    if (!context.api.call("get_general", general, failure)) return context.out.refused(failure);
    return report_settings(context, general);
}

int change_setting(Context& context) {
    Json::Value general;
    ApiFailure failure;
    if (!context.api.call("get_general", general, failure)) return context.out.refused(failure);
    // set_general stores all three at once; the two not named keep their values.
    Json::Value params(Json::objectValue);
    for (const Setting& setting : kSettings) {
        const bool named = setting.argument == context.command.setting;
        params[setting.member] =
            named ? (context.command.on ? 1 : 0) : general[setting.member].asInt();
    }
    Json::Value reply;
    if (!context.api.call("set_general", params, reply, failure))
        return context.out.refused(failure);
    if (!context.api.call("get_general", general, failure)) return context.out.refused(failure);
    return report_settings(context, general);
}

int show_notifications(Context& context) {
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("get_notifications", reply, failure)) return context.out.refused(failure);
    const Json::Value& list = reply["notifications"];
    Json::Value shown(Json::objectValue);
    shown["notifications"] = list.isArray() ? list : Json::Value(Json::arrayValue);
    context.out.object(shown);
    if (!list.isArray() || list.empty()) context.out.line("no notifications");
    for (const Json::Value& item : shown["notifications"]) {
        context.out.line(printable(item["title"].asString()) + ": " +
                         printable(item["info"].asString()));
        if (!item["url"].asString().empty())
            context.out.line("  " + printable(item["url"].asString()));
    }
    return kExitDone;
}

int show_version(Context& context) {
    Json::Value reply;
    ApiFailure failure;
    if (!context.api.call("get_about_info", reply, failure)) return context.out.refused(failure);
    Json::Value shown(Json::objectValue);
    shown["version"] = reply["version_info"].asString();
    context.out.object(shown);
    context.out.line("Quietway " + printable(shown["version"].asString()));
    return kExitDone;
}

}  // namespace quietway::ctl
