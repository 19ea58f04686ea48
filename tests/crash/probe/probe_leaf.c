/* The probe's innermost frame: C without unwind tables, a leaf that faults. With frame
   pointers it keeps a frame (it has locals); without them it touches no stack at all. */
void probe_leaf_store(volatile int* target) {
#ifdef PROBE_LEAF_FRAME
  volatile int scratch[4] = {1, 2, 3, 4};
  *target = scratch[0] + scratch[3];
#else
  *target = 42;
#endif
}
