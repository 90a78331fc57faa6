#include "log/JournalStream.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace evlog {

bool journalStream(int fd) {
  const char* named = std::getenv("JOURNAL_STREAM");
  if (!named || !*named) return false;
  char* end = nullptr;
  const unsigned long long device = std::strtoull(named, &end, 10);
  if (end == named || *end != ':') return false;
  const char* inodeText = end + 1;
  const unsigned long long inode = std::strtoull(inodeText, &end, 10);
  if (end == inodeText || *end != '\0') return false;
  struct stat st {};
  return ::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace evlog
