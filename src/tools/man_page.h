// The manual page zpx.1, written from the commands' help texts.
#pragma once

// Prints the page in man(7) form on standard output.
void print_man_page(const char* version);
