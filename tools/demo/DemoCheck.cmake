# A short run of the demonstration with its own checks (the switch happened, sound came back within
# one block of a helper's real crash with the hot standby, late blocks of a busy machine aside, the
# notes held at the crash were heard across the switch, the crashed slot came back with its
# snapshot), then the files it says it wrote:
# a WAV of the whole run, a PNG that a decoder reads, and the summary in the event log. On Linux the
# slot must have run in its helper and died of its segfault; elsewhere a slot whose helper cannot
# start must say so and fall back to the cooperative crash report.
#
#   cmake -DDEMO=<pendulum-demo> -DOUT=<folder> [-DEMULATOR=<wine>] -P DemoCheck.cmake
set(seconds 4)
# Blocks that a machine too busy for real time lets come late play silence, whichever slot plays
# (a helper's block that is not back in time, on this project's loaded 2-core machine up to three
# in a row around the crash); the run's summary counts them. A switch that waited for the
# watchdog's tick (9 blocks or more) or a standby without the held notes stays beyond them.
set(late_blocks_allowed 4)

file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND ${EMULATOR} "${DEMO}" --seconds ${seconds} --out "${OUT}" --check
                        --max-silent-blocks ${late_blocks_allowed}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the demonstration failed (${result}):\n${errors}")
endif()

# 16-bit stereo at 48 kHz: a 44-byte header and 4 bytes a frame.
math(EXPR expected_wav_size "44 + ${seconds} * 48000 * 4")
file(SIZE "${OUT}/failover.wav" wav_size)
if(NOT wav_size EQUAL expected_wav_size)
    message(FATAL_ERROR "failover.wav has ${wav_size} bytes, expected ${expected_wav_size}")
endif()
file(READ "${OUT}/failover.wav" wav_header LIMIT 12 HEX)
if(NOT wav_header MATCHES "^52494646........57415645$") # "RIFF", size, "WAVE"
    message(FATAL_ERROR "failover.wav is not a RIFF WAVE file")
endif()

file(READ "${OUT}/failover.png" png_signature LIMIT 8 HEX)
if(NOT png_signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "failover.png does not start with the PNG signature (${png_signature})")
endif()

# ImageMagick decodes every pixel to count the colours; a wrong checksum or length fails it.
find_program(IDENTIFY identify)
if(IDENTIFY)
    execute_process(COMMAND "${IDENTIFY}" -format "%m %w %k" "${OUT}/failover.png"
                    RESULT_VARIABLE result OUTPUT_VARIABLE described ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR NOT described MATCHES "^PNG 1280 [0-9]+$" OR errors MATCHES "[Cc][Rr][Cc]|corrupt")
        message(FATAL_ERROR "failover.png did not decode: '${described}' ${errors}")
    endif()
endif()

file(STRINGS "${OUT}/events.txt" switch_lines REGEX "another instrument in charge")
if(NOT switch_lines)
    message(FATAL_ERROR "events.txt records no switch")
endif()

file(READ "${OUT}/events.txt" events)
string(REGEX MATCH "summary: [^\n]*" summary "${events}")
if(NOT summary MATCHES "notes held at the crash heard across the switch")
    message(FATAL_ERROR "the summary does not tell the held notes heard across the switch: ${summary}")
endif()
set(isolated_story "in its own process\\) ended with [^;]+; the host process lived on;.*; slot 0 back with its snapshot at")
if(NOT EMULATOR AND CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
    if(NOT summary MATCHES "${isolated_story}" OR NOT summary MATCHES "segmentation fault"
       OR NOT summary MATCHES "hot standby sounded [0-9]+ ms after the crash \\(")
        message(FATAL_ERROR "the summary does not tell of the isolated slot's segfault, the host that lived on, "
                            "the hot standby sounding in the crash's block and the slot back with its snapshot: ${summary}")
    endif()
elseif(NOT summary MATCHES "${isolated_story}" AND NOT summary MATCHES "^summary: the isolated slot could not start \\(.+\\), so the cooperative crash report instead")
    message(FATAL_ERROR "the summary neither tells of the isolated slot's end nor why it could not start: ${summary}")
endif()
