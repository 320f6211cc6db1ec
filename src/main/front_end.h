// The LIST command, which the front end runs itself.
#pragma once

// Lists every entry of the open archive and ends the run.
[[noreturn]] void list_command();
