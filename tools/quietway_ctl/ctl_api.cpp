#include "tools/quietway_ctl/ctl_api.h"

#include <memory>

#include "tools/quietway_ctl/ctl_http.h"
#include "tools/quietway_ctl/ctl_identity.h"
#include "tools/quietway_ctl/ctl_sentences.h"

namespace quietway::ctl {
namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpForbidden = 403;

bool fail(ApiFailure& failure, const char* sentence, int code = 0) {
    failure.code = code;
    failure.sentence = sentence;
    return false;
}

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, value);
}

}  // namespace

bool parse_object(const std::string& text, Json::Value& value) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors) &&
           value.isObject();
}

bool ApiClient::obtain_credential(ApiFailure& failure) {
    if (!authorization_.empty()) return true;
    if (is_administrator()) {
        if (!read_stored_authorization(authorization_)) return fail(failure, kNoAccount);
        return true;
    }
    HttpCall call{endpoint_.host, endpoint_.port};
    call.path = "/api/credential";
    call.timeout_seconds = 30;
    HttpAnswer answer;
    if (!http_exchange(call, answer)) return fail(failure, kEngineUnreachable);
    if (answer.status == kHttpForbidden) return fail(failure, kNotAllowed);
    Json::Value body;
    if (answer.status != kHttpOk || !parse_object(answer.body, body) ||
        !body["authorization"].isString() || body["authorization"].asString().empty()) {
        return fail(failure, kGarbled);
    }
    authorization_ = body["authorization"].asString();
    return true;
}

bool ApiClient::call(const std::string& method, const Json::Value& params, Json::Value& reply,
                     ApiFailure& failure, int timeout_seconds) {
    failure = {};
    if (!obtain_credential(failure)) return false;
    Json::Value request(Json::objectValue);
    request["jsonrpc"] = "2.0";
    request["method"] = method;
    request["id"] = next_id_++;
    if (params.isObject()) request["params"] = params;
    HttpCall call{endpoint_.host, endpoint_.port, true};
    call.authorization = authorization_;
    call.body = compact(request);
    call.timeout_seconds = timeout_seconds;
    HttpAnswer answer;
    if (!http_exchange(call, answer)) return fail(failure, kEngineUnreachable);
    // A POST the engine does not take as a call (a changed account) is a web server's error.
    if (answer.status != kHttpOk)
        return fail(failure, is_administrator() ? kAccountRefused : kNotAllowed);
    if (!parse_object(answer.body, reply)) return fail(failure, kGarbled);
    const Json::Value& error = reply["error"];
    if (error.isObject()) {
        failure.reply = reply;
        const int code = error["code"].isInt() ? error["code"].asInt() : 0;
        failure.code = code;
        failure.sentence = api_error_sentence(code);
        return false;
    }
    if (!error.isInt()) return fail(failure, kGarbled);
    if (error.asInt() != 0) {
        failure.reply = reply;
        failure.code = error.asInt();
        failure.sentence = api_error_sentence(failure.code);
        return false;
    }
    return true;
}

}  // namespace quietway::ctl
