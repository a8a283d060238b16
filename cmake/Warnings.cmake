# Warnings on for every target of the project; -Werror only under TARNWICKLEY_WERROR.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2)
if(TARNWICKLEY_WERROR)
  add_compile_options(-Werror)
endif()
