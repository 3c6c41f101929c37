// The one source of the targets that hold the shared precompiled headers (cmake/precompiled.cmake):
// a target needs a source to compile its headers with.
