// For the import check (pe_check.py --imports-only): a program that imports
// GetTickCount64, which Windows XP lacks, so the check must refuse it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int main() { return static_cast<int>(GetTickCount64() & 1); }
