// The front end's pieces that the commands share.
#pragma once

#include <string_view>

// Command words match whatever the case of the letters A to Z.
bool is_command(std::string_view word, std::string_view command);

// Lists every entry of the open archive and ends the run.
[[noreturn]] void list_command();
