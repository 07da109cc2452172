// Placeholder so that a library with no sources of its own can still be built.
