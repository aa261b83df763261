#include "common/crash/multipart_form.h"

namespace quietway {

std::string form_content_type(const std::string& boundary) {
    return "multipart/form-data; boundary=" + boundary;
}

std::string form_head(const std::string& boundary, const FormFields& fields,
                      const std::string& file_part, const std::string& file_name) {
    std::string head;
    for (const auto& [name, value] : fields) {
        head += "--" + boundary + "\r\n";
        head += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
        head += value + "\r\n";
    }
    head += "--" + boundary + "\r\n";
    head += "Content-Disposition: form-data; name=\"" + file_part + "\"; filename=\"" + file_name +
            "\"\r\n";
    head += "Content-Type: application/octet-stream\r\n\r\n";
    return head;
}

std::string form_tail(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

}  // namespace quietway
