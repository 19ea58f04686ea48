# Prints the pc of every frame gdb unwinds, inlined frames folded into their real frame and
# tail-call frames (which gdb infers from debug information; they are not on the stack) left out.
import gdb

frame = gdb.newest_frame()
while frame is not None:
    if frame.type() not in (gdb.INLINE_FRAME, gdb.TAILCALL_FRAME):
        print("PC 0x%x" % frame.pc())
    frame = frame.older()
