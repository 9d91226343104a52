# Writes the calculator as one HTML file that works opened from disk: the page
# with its style sheet, its scripts and the worker's (the module, its
# WebAssembly inlined, with the worker's script) inlined.
#   cmake -DSITE=<site folder> -DMODULE=<quarn-single.js> -DSOURCE=<web folder>
#         -P inline_page.cmake
file(READ ${SOURCE}/index.html page)
file(READ ${SOURCE}/style.css style)
file(READ ${MODULE} module)
file(READ ${SOURCE}/calculator.js script)
file(READ ${SOURCE}/figures.js figure)
file(READ ${SOURCE}/worker.js worker)
foreach(text module script figure worker)
  string(FIND "${${text}}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${text} holds </script: it cannot be inlined")
  endif()
endforeach()
string(REPLACE "<link rel=\"stylesheet\" href=\"style.css\">" "<style>\n${style}</style>" page "${page}")
# The worker's source, module first, as text for the page to start it from.
string(REPLACE "<script src=\"figures.js\"></script>"
       "<script type=\"text/plain\" id=\"worker-source\">\n${module}\n${worker}</script>\n<script>\n${figure}</script>"
       page "${page}")
string(REPLACE "<script src=\"calculator.js\"></script>" "<script>\n${script}</script>" page "${page}")
file(WRITE ${SITE}/quarn-calculator.html "${page}")
