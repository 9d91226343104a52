# Writes the calculator as one HTML file that works opened from disk: the page
# with its style sheet, the module (its WebAssembly inlined) and the script
# inlined.
#   cmake -DSITE=<site folder> -DMODULE=<quarn-single.js> -DSOURCE=<web folder>
#         -P inline_page.cmake
file(READ ${SOURCE}/index.html page)
file(READ ${SOURCE}/style.css style)
file(READ ${MODULE} module)
file(READ ${SOURCE}/calculator.js script)
foreach(text module script)
  string(FIND "${${text}}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${text} holds </script: it cannot be inlined")
  endif()
endforeach()
string(REPLACE "<link rel=\"stylesheet\" href=\"style.css\">" "<style>\n${style}</style>" page "${page}")
string(REPLACE "<script src=\"quarn.js\"></script>" "<script>\n${module}</script>" page "${page}")
string(REPLACE "<script src=\"calculator.js\"></script>" "<script>\n${script}</script>" page "${page}")
file(WRITE ${SITE}/quarn-calculator.html "${page}")
