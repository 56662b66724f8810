# project_warnings(target): the project's warning set, errors under CI.
function(project_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion>
    $<$<BOOL:${PROJECT_WERROR}>:$<$<COMPILE_LANGUAGE:C,CXX>:-Werror>>)
endfunction()

if(PROJECT_SANITIZE)
  add_compile_options(-fsanitize=${PROJECT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${PROJECT_SANITIZE})
endif()
