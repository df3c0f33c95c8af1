// The system-independent half of TextOutput: naming the finished file. Writing, closing and
// removing it are each system's own (posix/textoutput.cc, win32/textoutput.cc).

#include "platform/textoutput.h"

#include "platform/interrupts.h"
#include "platform/publish.h"

namespace platform {

int TextOutput::name_closed_file() {
  // On a failure abandon() removes the temporary name, if it is still there.
  const int named = name_for_good(temporary_, final_);
  if (named == 0) {
    temporary_.clear();
    forget_on_interrupt(interrupt_slot_);
    interrupt_slot_ = -1;
  }
  return named;
}

}  // namespace platform
