// The application library needs one source until its first model lands.
namespace pexil::detail { int appLibraryAnchor = 0; }
