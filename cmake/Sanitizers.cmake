# Applies QB_SANITIZE to every target of the build.
if(QB_SANITIZE)
  string(REPLACE ";" "," _qb_san "${QB_SANITIZE}")
  add_compile_options(-fsanitize=${_qb_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_qb_san})
  message(STATUS "Quillbeck: sanitizers ${_qb_san}")
endif()
