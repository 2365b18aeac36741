// Dialog script of the Quorvex plug-in.
//
// The host runs this script for the plug-in's dialog. The parameters below are
// shared with the plug-in: the dialog's controls write them, and the plug-in
// reads them when the dialog asks it to "start". Each param(...) line gives a
// parameter's name and its default text; hosts that only need the defaults
// read just these lines.

function declareParameters() {
    // voxels whose time course never drops below this are fitted
    param("fmr_threshold", "100");
    // tSNR map of model 1's cleaned time courses
    param("tSNR1", "1");
    // tSNR map of model 2's cleaned time courses
    param("tSNR2", "1");
    // tSNR of model 2 minus tSNR of model 1
    param("tSNR3", "1");
    // adjusted R² of model 1
    param("R2adj1", "1");
    // adjusted R² of model 2
    param("R2adj2", "1");
    // adjusted R² of model 2 minus that of model 1
    param("R2adj3", "1");
    // F test of model 2 against model 1
    param("Fmap", "1");
    // save the run cleaned of model 1's confounds
    param("residuals1", "0");
    // save the run cleaned of model 2's confounds
    param("residuals2", "0");
    // design matrix of model 1
    param("sdmfile1", "");
    // design matrix of model 2
    param("sdmfile2", "");
}

// Lets the user pick a design matrix through the plug-in and takes the chosen
// path over into the given model's parameter.
function chooseDesign(modelParameter, label) {
    dialog.setStringParameter("task", "choose_sdm");
    dialog.executePlugin();
    var path = dialog.getStringParameter("sdmfile");
    if (path !== "") {
        dialog.setStringParameter(modelParameter, path);
        dialog.setText(label, path);
    }
}

function onChooseModel1() { chooseDesign("sdmfile1", "labelModel1"); }
function onChooseModel2() { chooseDesign("sdmfile2", "labelModel2"); }

// The declared parameters that are not output switches. Every other parameter
// declared above is one, with the dialog's check box "check_" + its name:
// a new output needs only its param(...) line here.
var notSwitches = ["fmr_threshold", "sdmfile1", "sdmfile2"];

// The names declareParameters declares, in its order: it runs once more with
// param recording the names instead of declaring anything.
function declaredParameterNames() {
    var names = [];
    var hostParam = typeof param === "undefined" ? undefined : param;
    param = function (name, value) { names.push(name); };
    try {
        declareParameters();
    } finally {
        param = hostParam;
    }
    return names;
}

function onStart() {
    var names = declaredParameterNames();
    for (var i = 0; i < names.length; i++) {
        if (notSwitches.indexOf(names[i]) < 0) {
            dialog.setIntParameter(names[i], dialog.isChecked("check_" + names[i]) ? 1 : 0);
        }
    }
    dialog.setFloatParameter("fmr_threshold", parseFloat(dialog.getText("edit_fmr_threshold")));
    dialog.setStringParameter("task", "start");
    dialog.executePlugin();
}
