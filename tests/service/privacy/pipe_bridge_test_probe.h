#pragma once

// What a finished run may leave behind, where the platform lets a test look.
namespace quietway::test {

// Open descriptors of this process, or -1 where they are not counted (Windows).
int open_descriptors();

// Whether the child with this id is still around: unreaped (running or a zombie) on Linux,
// still running on Windows.
bool child_left_behind(unsigned long process_id);

}  // namespace quietway::test
