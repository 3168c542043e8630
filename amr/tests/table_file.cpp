#include "table_file.h"

#include <fstream>
#include <sstream>

namespace amrtest {

TableFile read_table_file(const std::string& relative_path) {
    TableFile t;
    std::ifstream in(std::string(SUITE_TABLES_DIR) + "/" + relative_path);
    if (!in) return t;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream ss(line);
        if (line[0] == '#') {
            std::string key;
            ss.ignore(1);
            std::getline(ss, key, ':');
            if (key.find("columns") != std::string::npos) {
                std::string c;
                while (ss >> c) t.columns.push_back(c);
            }
            continue;
        }
        std::vector<std::string> row;
        std::string v;
        while (ss >> v) row.push_back(v);
        if (!row.empty()) t.rows.push_back(row);
    }
    t.ok = !t.columns.empty();
    return t;
}

std::vector<int> table_columns(const std::string& relative_path, const std::vector<std::string>& columns) {
    TableFile t = read_table_file(relative_path);
    std::vector<int> out;
    std::vector<size_t> idx;
    for (const auto& c : columns) {
        size_t i = 0;
        while (i < t.columns.size() && t.columns[i] != c) i++;
        if (i == t.columns.size()) return {};
        idx.push_back(i);
    }
    for (const auto& r : t.rows)
        for (size_t i : idx) out.push_back(std::stoi(r.at(i)));
    return out;
}

}  // namespace amrtest
