// Dialog script of the Quorvex plug-in (placeholder until the dialog is written).
