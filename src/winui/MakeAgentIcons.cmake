# Makes the icons of agent.rc from the application's SVG: agent.ico and agent-alert.ico (with the
# red mark the tray shows while the last sync failed), each at 16, 20, 24, 32, 48 and 256 pixels,
# the largest kept as PNG inside the .ico.
# Usage: cmake -DSVG=agent.svg -DOUT=dir -DRSVG_CONVERT=... -DICOTOOL=... -P MakeAgentIcons.cmake
foreach(required SVG OUT RSVG_CONVERT ICOTOOL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "MakeAgentIcons.cmake: ${required} is not set")
  endif()
endforeach()

# A red dot with a white rim in the upper right corner, where the drawing leaves room; in units
# of the SVG's 256-pixel view box, as the Qt face paints it (diameter 0.45 of the side).
set(alert_mark [[  <circle cx="198.4" cy="57.6" r="50.4" fill="#d91f26" stroke="#ffffff" stroke-width="14.4"/>]])
file(READ "${SVG}" svg)
string(REPLACE "</svg>" "${alert_mark}\n</svg>" alert_svg "${svg}")
file(WRITE "${OUT}/agent-alert.svg" "${alert_svg}")

function(make_icon source name)
  set(pngs)
  foreach(size 16 20 24 32 48 256)
    set(png "${OUT}/${name}-${size}.png")
    execute_process(COMMAND "${RSVG_CONVERT}" -w ${size} -h ${size} "${source}" -o "${png}"
                    COMMAND_ERROR_IS_FATAL ANY)
    if(size EQUAL 256)
      list(APPEND pngs -r "${png}")
    else()
      list(APPEND pngs "${png}")
    endif()
  endforeach()
  execute_process(COMMAND "${ICOTOOL}" -c -o "${OUT}/${name}.ico" ${pngs} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

make_icon("${SVG}" agent)
make_icon("${OUT}/agent-alert.svg" agent-alert)
