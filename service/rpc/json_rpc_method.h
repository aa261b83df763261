#pragma once

#include <json/value.h>

#include <string>
#include <utility>

namespace Json::Rpc {

// Binding of one method name to the code that answers it. The dispatcher owns its bindings.
class CallbackMethod {
public:
    virtual ~CallbackMethod() = default;

    // Runs the method on the whole request object and fills `response`.
    virtual bool Invoke(const Json::Value& request, Json::Value& response) = 0;
    virtual std::string Name() const = 0;
    virtual Json::Value Description() const = 0;
};

// Binds a member function of `T` to a method name. The target is not owned and must outlive
// the binding.
template <class T>
class RpcMethod : public CallbackMethod {
public:
    using Method = bool (T::*)(const Json::Value& request, Json::Value& response);

    RpcMethod(T& target, Method method, std::string name, Json::Value description = Json::Value())
        : target_(&target),
          method_(method),
          name_(std::move(name)),
          description_(std::move(description)) {}

    bool Invoke(const Json::Value& request, Json::Value& response) override {
        return (target_->*method_)(request, response);
    }
    std::string Name() const override { return name_; }
    Json::Value Description() const override { return description_; }

private:
    T* target_;
    Method method_;
    std::string name_;
    Json::Value description_;
};

}  // namespace Json::Rpc
