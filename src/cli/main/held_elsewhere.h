// The line that follows a refused open when another program holds the
// file: the fixed message alone would leave the user to guess why.
#pragma once

// Prints "Another program holds '<path>'." when the last failed open was
// refused for that reason (file_held_elsewhere); nothing otherwise.
void say_if_held_elsewhere(const char* path);

// The same for an open whose refusal was told apart by the caller.
void say_held_elsewhere(bool held, const char* path);
