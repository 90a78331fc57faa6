#pragma once
// Whether a descriptor is the journal's stream: a service manager that connects standard error
// to the journal says so in JOURNAL_STREAM ("<device>:<inode>" of that stream, in decimal). A
// descriptor that was redirected since no longer matches, so a pipe or a file gets no prefix.
namespace evlog {

bool journalStream(int fd);

}  // namespace evlog
