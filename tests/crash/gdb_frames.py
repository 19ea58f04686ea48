# Prints the pc of every frame gdb unwinds, inlined frames folded into their real frame.
import gdb

frame = gdb.newest_frame()
while frame is not None:
    if frame.type() != gdb.INLINE_FRAME:
        print("PC 0x%x" % frame.pc())
    frame = frame.older()
