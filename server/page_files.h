// The page's files (HTML, JavaScript modules, CSS), built into the program from server/page
// at build time: installing stays one file, and no path from a request reaches the disk.
#pragma once
#include <cstddef>
#include <string>

struct page_file {
    const char* name;  // "index.html", "app.js"
    const char* type;  // its Content-Type
    const unsigned char* data;
    std::size_t size;
};

// The file of that name, or nullptr.
const page_file* find_page_file(const std::string& name);
