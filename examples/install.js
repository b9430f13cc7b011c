// Creates InstallKorvex by its ProgID and prints install's status.
var o = new ActiveXObject("QxKorvex.InstallKorvex");
WScript.Echo(o.install());
