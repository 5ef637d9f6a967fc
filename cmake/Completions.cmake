# The shell completions (bash, zsh, fish, PowerShell), written at build time from the command table by
# tools/completions, which is built for this machine whatever the target: a sub-build of its own, with the
# host's compiler when cross-building. They lie in the build tree where they are installed.
include(ExternalProject)
if(CMAKE_CROSSCOMPILING)
  find_program(QEV_HOST_CXX NAMES g++ c++ REQUIRED DOC "The build machine's C++ compiler, for build-time tools")
else()
  set(QEV_HOST_CXX ${CMAKE_CXX_COMPILER})
endif()
set(_qev_completions_tool ${PROJECT_BINARY_DIR}/host-tools/bin/qev-completions${CMAKE_HOST_EXECUTABLE_SUFFIX})
ExternalProject_Add(qev_completions_tool
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/completions
  BINARY_DIR ${PROJECT_BINARY_DIR}/host-tools/build
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=${QEV_HOST_CXX} -DCMAKE_BUILD_TYPE=Release -DQEV_SOURCE_DIR=${PROJECT_SOURCE_DIR}
             -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${PROJECT_BINARY_DIR}/host-tools/bin
  INSTALL_COMMAND ""
  # Its sources are the program's too: the sub-build decides what is out of date.
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${_qev_completions_tool})

set(QEV_BASH_COMPLETION ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/qev-scoreboard)
set(QEV_ZSH_COMPLETION ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions/_qev-scoreboard)
set(QEV_FISH_COMPLETION ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d/qev-scoreboard.fish)
set(QEV_POWERSHELL_COMPLETION ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/powershell/qev-scoreboard.ps1)
add_custom_command(
  OUTPUT ${QEV_BASH_COMPLETION} ${QEV_ZSH_COMPLETION} ${QEV_FISH_COMPLETION} ${QEV_POWERSHELL_COMPLETION}
  COMMAND ${_qev_completions_tool} --bash ${QEV_BASH_COMPLETION} --zsh ${QEV_ZSH_COMPLETION}
          --fish ${QEV_FISH_COMPLETION} --powershell ${QEV_POWERSHELL_COMPLETION}
  DEPENDS ${_qev_completions_tool} qev_completions_tool
  COMMENT "Writing the shell completions from the command table")
add_custom_target(qev_completions ALL DEPENDS
  ${QEV_BASH_COMPLETION} ${QEV_ZSH_COMPLETION} ${QEV_FISH_COMPLETION} ${QEV_POWERSHELL_COMPLETION})

# Each system's shells: PowerShell on Windows, the others elsewhere.
if(WIN32)
  install(FILES ${QEV_POWERSHELL_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/powershell)
else()
  install(FILES ${QEV_BASH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${QEV_ZSH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES ${QEV_FISH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endif()
