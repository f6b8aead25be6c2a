// The process-wide writer of standard output (file descriptor 1), shared by
// the reader threads and print_details.  It is not Python's sys.stdout.
#pragma once

#include <string_view>

namespace halvex::binding {

// Writes one whole line under the writer's lock.  Returns 0, or the errno of
// a failed write.  Writes to a closed descriptor are dropped and count as done.
int write_stdout_line(std::string_view line);

}  // namespace halvex::binding
