# Writes OUTPUT: a type library whose dual interface IMembers has COUNT
# methods, Member0 .. Member<COUNT-1> with ids 1 .. COUNT, each with one
# named parameter, and whose dispatch interface DMembers has as many
# properties. The benchmarks time member lookups and qxhost typelib on it at
# sizes no real library is written by hand.
#
#   cmake -DCOUNT=<n> -DOUTPUT=<file.idl> -P members_idl.cmake
if(NOT COUNT OR NOT OUTPUT)
  message(FATAL_ERROR "members_idl.cmake needs COUNT and OUTPUT")
endif()
math(EXPR last "${COUNT} - 1")
set(methods "")
set(properties "")
foreach(i RANGE ${last})
  math(EXPR id "${i} + 1")
  string(APPEND methods
    "  [id(${id}), helpstring(\"method ${i}\")] HRESULT Member${i}([in] LONG value${i});\n")
  string(APPEND properties "    [id(${id})] LONG Field${i};\n")
endforeach()
file(WRITE ${OUTPUT}.new
"import \"base.idl\";

[object, uuid(6C0E5A31-2B8F-4D7A-9E14-000000000001), dual, oleautomation]
interface IMembers : IDispatch {
${methods}}

[uuid(6C0E5A32-2B8F-4D7A-9E14-000000000001), version(1.0)]
library MembersLib {
  importlib(\"stdole2.tlb\");
  interface IMembers;
  [uuid(6C0E5A33-2B8F-4D7A-9E14-000000000001)]
  dispinterface DMembers {
  properties:
${properties}  methods:
  };
}
")
# Only a changed text makes widl run again.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
