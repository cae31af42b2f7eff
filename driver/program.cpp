// The driver program has no code of its own: main belongs to the host's glue
// library, which calls the driver_* entry points exported by this program.
