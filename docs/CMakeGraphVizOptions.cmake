# What cmake --graphviz draws for docs/make-architecture and scripts/check-layers: our own
# targets and their links, without imported and system libraries, custom targets or the
# per-target side files. scripts/check-layers keeps only the product's targets of it.
set(GRAPHVIZ_GRAPH_NAME "Gainmesh")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_CUSTOM_TARGETS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
