// platform: the few runtime names the library uses that this platform spells
// differently or lacks.
//
// The library has no entry routine here: loading a shared object runs no code
// of ours, and every global is zero or constant-initialised by the loader.
#pragma once

// A heap copy of `text`, released with free; null when `text` is null or the
// heap is exhausted.
char* _strdup(const char* text);
