#pragma once

#include <string>
#include <utility>
#include <vector>

// The pieces of a multipart/form-data body with text fields and one file part, for senders
// that stream the file between head and tail.
namespace quietway {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// "multipart/form-data; boundary=<boundary>"
std::string form_content_type(const std::string& boundary);

// Every text field, then the file part's header up to where its bytes begin.
std::string form_head(const std::string& boundary, const FormFields& fields,
                      const std::string& file_part, const std::string& file_name);

// What follows the file's bytes: the end of the part and of the form.
std::string form_tail(const std::string& boundary);

}  // namespace quietway
