// placeholder so the library has a source until the graph lands
namespace dshow_placeholder { int unused = 0; }
