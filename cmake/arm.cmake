# The ARM side of the build: the flat jumps, the second-stage loader images and the CPU
# primitives assembled for ARMv4 and compiled into the system as byte arrays (the
# bytes the architecture copies are the real code), and the sample kernel.

find_program(ARM_GCC arm-none-eabi-gcc REQUIRED)
find_program(ARM_OBJCOPY arm-none-eabi-objcopy REQUIRED)
find_program(ARM_NM arm-none-eabi-nm REQUIRED)
find_program(ARM_READELF arm-none-eabi-readelf REQUIRED)
find_program(GZIP_PROGRAM gzip REQUIRED)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(QUORVEL_ARM_IMAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/scripts/arm_image.cmake)
set(QUORVEL_PIC_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/scripts/check_position_independent.cmake)
set(QUORVEL_ARM_FLAGS -march=armv4 -marm)
set(QUORVEL_ARM_DIR ${CMAKE_BINARY_DIR}/arm)
file(MAKE_DIRECTORY ${QUORVEL_ARM_DIR})

# One assembled source, linked alone at `BASE`, becomes an ArmImage (and, with ARRAY,
# the byte array of that name) in TARGET. DEPENDS: the files it includes.
function(quorvel_arm_image image)
  cmake_parse_arguments(ARG "" "SOURCE;BASE;ARRAY;LABEL;TARGET" "DEFINES;SECTIONS;DEPENDS" ${ARGN})
  set(dir ${QUORVEL_ARM_DIR})
  set(script ${dir}/${image}.ld)
  set(layout "SECTIONS\n{\n  . = ${ARG_BASE};\n  .text : { *(.text*) }\n  .data : { *(.data*) }\n")
  string(APPEND layout "  .bss : { *(.bss*) *(COMMON) }\n  __image_end = .;\n  .rodata : { *(.rodata*) }\n}\n")
  set(previous "")
  if(EXISTS ${script})
    file(READ ${script} previous)
  endif()
  if(NOT previous STREQUAL layout)
    file(WRITE ${script} "${layout}")
  endif()
  set(sections "")
  foreach(section IN LISTS ARG_SECTIONS)
    list(APPEND sections -j ${section})
  endforeach()
  add_custom_command(
    OUTPUT ${dir}/${image}.cpp
    COMMAND ${ARM_GCC} ${QUORVEL_ARM_FLAGS} ${ARG_DEFINES} -c ${ARG_SOURCE} -o ${dir}/${image}.o
    COMMAND ${ARM_GCC} ${QUORVEL_ARM_FLAGS} -nostdlib -Wl,-T,${script} -Wl,--no-warn-rwx-segments
            ${dir}/${image}.o -o ${dir}/${image}.elf
    COMMAND ${ARM_OBJCOPY} -O binary ${sections} ${dir}/${image}.elf ${dir}/${image}.bin
    COMMAND ${CMAKE_COMMAND} -DNM=${ARM_NM} -DELF=${dir}/${image}.elf -DBINARY=${dir}/${image}.bin
            -DOUTPUT=${dir}/${image}.cpp -DIMAGE=${image} -DLABEL=${ARG_LABEL} -DBASE=${ARG_BASE}
            -DARRAY=${ARG_ARRAY} -P ${QUORVEL_ARM_IMAGE_SCRIPT}
    DEPENDS ${ARG_SOURCE} ${ARG_DEPENDS} ${script} ${QUORVEL_ARM_IMAGE_SCRIPT} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/byte_array.cmake
    COMMENT "Assembling ${ARG_LABEL}"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${dir}/${image}.cpp)
endfunction()

set(QUORVEL_ARM_SOURCES ${CMAKE_SOURCE_DIR}/src/loader/arm)
quorvel_arm_image(flatJumpImage_sa11x0 TARGET quorvel_host LABEL FlatJump_sa11x0 BASE 0
  SOURCE ${QUORVEL_ARM_SOURCES}/flat_jump_sa11x0.S SECTIONS .text)
quorvel_arm_image(flatJumpImage_pxa2x0 TARGET quorvel_host LABEL FlatJump_pxa2x0 BASE 0
  SOURCE ${QUORVEL_ARM_SOURCES}/flat_jump_pxa2x0.S SECTIONS .text)
quorvel_arm_image(secondStageImage_sa11x0 TARGET quorvel_host LABEL SecondStageLoader_sa11x0 BASE 0
  ARRAY SecondStageLoader_sa11x0 SOURCE ${QUORVEL_ARM_SOURCES}/second_stage_loader.S SECTIONS .text)
quorvel_arm_image(secondStageImage_pxa2x0 TARGET quorvel_host LABEL SecondStageLoader_pxa2x0 BASE 0
  ARRAY SecondStageLoader_pxa2x0 SOURCE ${QUORVEL_ARM_SOURCES}/second_stage_loader.S SECTIONS .text
  DEFINES -DCPU_PXA2X0)
# The primitives alone are only run emulated by the tests: not part of the program.
add_library(quorvel_cpu_primitives_image STATIC)
target_link_libraries(quorvel_cpu_primitives_image PUBLIC quorvel_host)
quorvel_arm_image(cpuPrimitivesImage TARGET quorvel_cpu_primitives_image LABEL "CPU primitives" BASE 0x00020000
  SOURCE ${QUORVEL_ARM_SOURCES}/cpu_primitives.S SECTIONS .text .data)

# The sample kernel: linked for SA-11x0 RAM, position-independent so that it also runs
# where the PXA-2x0 loader folds it. Plain and gzip-compressed, at known paths.
set(QUORVEL_KERNEL_SOURCES ${CMAKE_SOURCE_DIR}/kernel)
set(QUORVEL_KERNEL_DIR ${CMAKE_BINARY_DIR}/kernel)
file(MAKE_DIRECTORY ${QUORVEL_KERNEL_DIR})
set(QUORVEL_KERNEL_COMPILE ${ARM_GCC} ${QUORVEL_ARM_FLAGS} -O2 -ffreestanding -nostdlib -fPIE -fvisibility=hidden
  -fno-tree-loop-distribute-patterns -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)
set(QUORVEL_KERNEL_LINK -nostdlib -static -Wl,-T,${QUORVEL_KERNEL_SOURCES}/kernel.ld -Wl,-z,max-page-size=4096
  -Wl,--build-id=none)

# quorvel_sample_kernel(<file> [GZIP_LEVEL n] [DEFINES ...] [SOURCES extra.S ...] [DEPENDS ...])
function(quorvel_sample_kernel file)
  cmake_parse_arguments(ARG "" "GZIP_LEVEL" "DEFINES;SOURCES;DEPENDS" ${ARGN})
  set(dir ${QUORVEL_KERNEL_DIR})
  get_filename_component(name ${file} NAME)
  set(level 9)
  if(ARG_GZIP_LEVEL)
    set(level ${ARG_GZIP_LEVEL})
  endif()
  add_custom_command(
    OUTPUT ${file} ${file}.gz
    COMMAND ${QUORVEL_KERNEL_COMPILE} ${ARG_DEFINES} -c ${QUORVEL_KERNEL_SOURCES}/kernel.c -o ${dir}/${name}-kernel.o
    COMMAND ${CMAKE_COMMAND} -DREADELF=${ARM_READELF} -DCHECK_POSITION_INDEPENDENT=${dir}/${name}-kernel.o
            -P ${QUORVEL_PIC_CHECK_SCRIPT}
    COMMAND ${QUORVEL_KERNEL_COMPILE} -c ${QUORVEL_KERNEL_SOURCES}/start.S -o ${dir}/${name}-start.o
    COMMAND ${QUORVEL_KERNEL_COMPILE} ${QUORVEL_KERNEL_LINK} ${dir}/${name}-start.o ${dir}/${name}-kernel.o
            ${ARG_SOURCES} -o ${file}
    COMMAND ${GZIP_PROGRAM} -${level} -n -k -f ${file}
    DEPENDS ${QUORVEL_KERNEL_SOURCES}/kernel.c ${QUORVEL_KERNEL_SOURCES}/kernel.h ${QUORVEL_KERNEL_SOURCES}/start.S
            ${QUORVEL_KERNEL_SOURCES}/kernel.ld ${QUORVEL_PIC_CHECK_SCRIPT} ${ARG_DEPENDS}
    WORKING_DIRECTORY ${dir}
    COMMENT "Building the sample kernel ${name}"
    VERBATIM)
endfunction()

set(QUORVEL_SAMPLE_KERNEL ${QUORVEL_KERNEL_DIR}/tamsel)
set(QUORVEL_SAMPLE_KERNEL_GZ ${QUORVEL_KERNEL_DIR}/tamsel.gz)
quorvel_sample_kernel(${QUORVEL_SAMPLE_KERNEL})
add_custom_target(sample_kernel ALL DEPENDS ${QUORVEL_SAMPLE_KERNEL} ${QUORVEL_SAMPLE_KERNEL_GZ})

# The large variant (for benchmarks, built on request): the same kernel carrying 24 MB
# of initialised data that it checksums. Too large to fold on the PXA-2x0.
set(QUORVEL_SAMPLE_KERNEL_LARGE ${QUORVEL_KERNEL_DIR}/tamsel-large)
set(QUORVEL_SAMPLE_KERNEL_LARGE_GZ ${QUORVEL_KERNEL_DIR}/tamsel-large.gz)
add_custom_command(
  OUTPUT ${QUORVEL_KERNEL_DIR}/large_data.S ${QUORVEL_KERNEL_DIR}/large_data.bin
  COMMAND ${Python3_EXECUTABLE} ${QUORVEL_KERNEL_SOURCES}/make_large_data.py ${QUORVEL_KERNEL_DIR}/large_data.bin
          ${QUORVEL_KERNEL_DIR}/large_data.S 25165824
  DEPENDS ${QUORVEL_KERNEL_SOURCES}/make_large_data.py
  COMMENT "Making the large sample kernel's data"
  VERBATIM)
quorvel_sample_kernel(${QUORVEL_SAMPLE_KERNEL_LARGE} GZIP_LEVEL 6 DEFINES -DLARGE_DATA
  SOURCES ${QUORVEL_KERNEL_DIR}/large_data.S
  DEPENDS ${QUORVEL_KERNEL_DIR}/large_data.S ${QUORVEL_KERNEL_DIR}/large_data.bin)
add_custom_target(sample_kernel_large DEPENDS ${QUORVEL_SAMPLE_KERNEL_LARGE} ${QUORVEL_SAMPLE_KERNEL_LARGE_GZ})

# Where the kernels are, for tests, benchmarks and the demo.
target_compile_definitions(quorvel_system INTERFACE
  QUORVEL_SAMPLE_KERNEL="${QUORVEL_SAMPLE_KERNEL}"
  QUORVEL_SAMPLE_KERNEL_GZ="${QUORVEL_SAMPLE_KERNEL_GZ}"
  QUORVEL_SAMPLE_KERNEL_LARGE="${QUORVEL_SAMPLE_KERNEL_LARGE}"
  QUORVEL_SAMPLE_KERNEL_LARGE_GZ="${QUORVEL_SAMPLE_KERNEL_LARGE_GZ}")

# The code QEMU starts from for a whole-machine run: it sets the machine up as the
# emulated hand-over starts and falls into the flat jump placed behind it.
quorvel_arm_image(qemuStartImage TARGET quorvel_host LABEL QemuStart BASE 0
  SOURCE ${CMAKE_SOURCE_DIR}/src/sim/qemu/start_stub.S SECTIONS .text)

# The whole-machine test kernel: MMU, high vectors, a software interrupt, OS-timer
# interrupts and serial input, which only a whole machine gives. Linked in place for
# each processor it is built for.
set(QUORVEL_WHOLE_MACHINE_SOURCES ${QUORVEL_KERNEL_SOURCES}/whole_machine)
foreach(variant "SA1110;0xC0200000;sa1110" "PXA27X;0xA0200000;pxa270")
  list(GET variant 0 define)
  list(GET variant 1 base)
  list(GET variant 2 name)
  set(file ${QUORVEL_KERNEL_DIR}/whole-machine-${name})
  add_custom_command(
    OUTPUT ${file}
    COMMAND ${ARM_GCC} ${QUORVEL_ARM_FLAGS} -O2 -ffreestanding -nostdlib -static -Wall -Wextra -Werror -D${define}
            -Wl,--defsym=BASE=${base} -Wl,-T,${QUORVEL_WHOLE_MACHINE_SOURCES}/kernel.ld -Wl,-z,max-page-size=4096
            -Wl,--build-id=none -Wl,--no-warn-rwx-segments
            ${QUORVEL_WHOLE_MACHINE_SOURCES}/start.S ${QUORVEL_WHOLE_MACHINE_SOURCES}/kernel.c -o ${file}
    DEPENDS ${QUORVEL_WHOLE_MACHINE_SOURCES}/start.S ${QUORVEL_WHOLE_MACHINE_SOURCES}/kernel.c
            ${QUORVEL_WHOLE_MACHINE_SOURCES}/kernel.ld
    COMMENT "Building the whole-machine test kernel for the ${name}"
    VERBATIM)
  list(APPEND QUORVEL_WHOLE_MACHINE_KERNELS ${file})
endforeach()
add_custom_target(whole_machine_kernels DEPENDS ${QUORVEL_WHOLE_MACHINE_KERNELS})

# The Linux-protocol test kernel: one source built as an ELF file (recognised as Linux
# by its processor-description section), as a raw binary and, with the magic word, as
# a zImage-shaped binary (plain and gzip); beside it the initrd whose bytes it checks.
set(QUORVEL_LINUX_PROTOCOL_SOURCES ${QUORVEL_KERNEL_SOURCES}/linux_protocol)
set(QUORVEL_LINUX_PROTOCOL_KERNEL ${QUORVEL_KERNEL_DIR}/linux-protocol)
set(QUORVEL_LINUX_PROTOCOL_INITRD ${QUORVEL_KERNEL_DIR}/linux-protocol-initrd)
set(QUORVEL_LINUX_PROTOCOL_INITRD_SIZE 70001)
set(linuxProtocolBuild ${ARM_GCC} ${QUORVEL_ARM_FLAGS} -O2 -ffreestanding -nostdlib -static -fPIE -fvisibility=hidden
  -fno-tree-loop-distribute-patterns -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror
  -Wl,-T,${QUORVEL_LINUX_PROTOCOL_SOURCES}/kernel.ld -Wl,-z,max-page-size=4096 -Wl,--build-id=none
  -Wl,--no-warn-rwx-segments)
set(linuxProtocolInputs ${QUORVEL_LINUX_PROTOCOL_SOURCES}/start.S ${QUORVEL_LINUX_PROTOCOL_SOURCES}/kernel.c)
add_custom_command(
  OUTPUT ${QUORVEL_LINUX_PROTOCOL_KERNEL} ${QUORVEL_LINUX_PROTOCOL_KERNEL}.bin ${QUORVEL_LINUX_PROTOCOL_KERNEL}.zimage
         ${QUORVEL_LINUX_PROTOCOL_KERNEL}.zimage.gz
  COMMAND ${linuxProtocolBuild} ${linuxProtocolInputs} -o ${QUORVEL_LINUX_PROTOCOL_KERNEL}
  COMMAND ${ARM_OBJCOPY} -O binary ${QUORVEL_LINUX_PROTOCOL_KERNEL} ${QUORVEL_LINUX_PROTOCOL_KERNEL}.bin
  COMMAND ${linuxProtocolBuild} -DZIMAGE ${linuxProtocolInputs} -o ${QUORVEL_LINUX_PROTOCOL_KERNEL}-zimage.elf
  COMMAND ${ARM_OBJCOPY} -O binary ${QUORVEL_LINUX_PROTOCOL_KERNEL}-zimage.elf ${QUORVEL_LINUX_PROTOCOL_KERNEL}.zimage
  COMMAND ${GZIP_PROGRAM} -9 -n -k -f ${QUORVEL_LINUX_PROTOCOL_KERNEL}.zimage
  DEPENDS ${linuxProtocolInputs} ${QUORVEL_LINUX_PROTOCOL_SOURCES}/kernel.ld
  COMMENT "Building the Linux-protocol test kernel"
  VERBATIM)
add_custom_command(
  OUTPUT ${QUORVEL_LINUX_PROTOCOL_INITRD} ${QUORVEL_LINUX_PROTOCOL_INITRD}.gz
  COMMAND ${Python3_EXECUTABLE} ${QUORVEL_LINUX_PROTOCOL_SOURCES}/make_initrd.py ${QUORVEL_LINUX_PROTOCOL_INITRD}
          ${QUORVEL_LINUX_PROTOCOL_INITRD_SIZE}
  COMMAND ${GZIP_PROGRAM} -9 -n -k -f ${QUORVEL_LINUX_PROTOCOL_INITRD}
  DEPENDS ${QUORVEL_LINUX_PROTOCOL_SOURCES}/make_initrd.py
  COMMENT "Making the Linux-protocol test kernel's initrd"
  VERBATIM)
add_custom_target(linux_protocol_kernel ALL DEPENDS ${QUORVEL_LINUX_PROTOCOL_KERNEL} ${QUORVEL_LINUX_PROTOCOL_INITRD})
