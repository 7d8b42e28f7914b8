// CSV as RFC 4180 writes it: fields separated by commas, records ended by CRLF, a field that
// holds a comma, a double quote or a line break enclosed in double quotes with its quotes
// doubled. Recording names hold commas, so every text field goes through here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vdr {

std::string csvField(const std::string& value);
// One record: the fields quoted as needed, joined by commas, ended by CRLF.
void writeCsvRecord(FILE* out, const std::vector<std::string>& fields);

}  // namespace vdr
