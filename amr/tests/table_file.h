// Reader of the standard's table data files, for checks against the code.
#pragma once
#include <string>
#include <vector>

namespace amrtest {

struct TableFile {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    bool ok = false;
};

TableFile read_table_file(const std::string& relative_path);
// The named integer columns of every row, row by row.
std::vector<int> table_columns(const std::string& relative_path, const std::vector<std::string>& columns);

}  // namespace amrtest
