// An exception that nothing catches ends the program by abort(), as the
// standard library's own handler does after printing the exception's type to
// stderr. A GUI program has no stderr to print to, and that handler brings
// the C++ name demangler (some 45 KiB, the "basic_ostream" among the file's
// strings) into Tamberlode.exe; this definition takes its place at link time.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
