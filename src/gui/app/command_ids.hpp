// The command ids of the main window's menu and toolbar.
#pragma once

namespace quarv {

enum CommandId : int {
    ID_PROCESS_RAW_PEAK = 32773, // File menu "Process Raw / Peak"
    ID_PROCESS_ADD_FILE = 32805, // File menu "Process & Add File"
    ID_PROCESS_TOOLBAR = 32806,  // toolbar: the same as 32773
    ID_PROCESSING_GRAPHS = 32793,
    ID_SAVE_LAS = 32797,
    ID_SAVE_XYZ = 32798,
    ID_APP_EXIT = 57665,
    ID_APP_ABOUT = 57664,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_RESET_CAMERA = 32801,
    ID_TRANSLATE_MOTION = 32771,
    ID_ROTATION_MOTION = 32772,
    ID_MEASURE_FIRST = 32794,      // pick mode 4
    ID_MEASURE_SECOND = 32808,     // pick mode 5
    ID_TARGET_FIRST = 32811,       // pick mode 6
    ID_TARGET_SECOND = 32812,      // pick mode 7
    ID_POINT_INFO = 32796,         // pick mode 8
    ID_CENTRE_OF_ROTATION = 32807, // pick mode 9
    ID_FILE_INFO = 32810,
    ID_LAYER_STATISTICS = 32813,
    ID_EDIT_CFG = 32774,
    ID_DISPLAY_POINT_CLOUD = 32791,
    // Edit menu entries of dialogs the command set had no way to open.
    ID_BUILD_POINT_CLOUD = 32814, // "Build Point Cloud Dialog"
    ID_COLOR_CFG = 32815,         // "Intensity / SNR Color CFG"
    // The view's own commands.
    ID_FIT_CLOUD = 32816,
    ID_LEGEND = 32817,
    ID_DEPTH_SHADING = 32818,
    ID_SAVE_VIEW_IMAGE = 32819,
    ID_POINTS_LARGER = 32820,
    ID_POINTS_SMALLER = 32821,
    ID_SCAN_IMAGE = 32822,
};

// The toolbar's buttons in order; 0 marks a separator.
inline constexpr int kToolbarLayout[] = {ID_PROCESS_TOOLBAR,
                                         0,
                                         ID_RESET_CAMERA,
                                         0,
                                         ID_TRANSLATE_MOTION,
                                         ID_ROTATION_MOTION,
                                         0,
                                         ID_MEASURE_FIRST,
                                         ID_MEASURE_SECOND,
                                         ID_TARGET_FIRST,
                                         ID_TARGET_SECOND,
                                         0,
                                         ID_POINT_INFO,
                                         ID_CENTRE_OF_ROTATION,
                                         0,
                                         ID_FILE_INFO,
                                         0,
                                         ID_LAYER_STATISTICS};

} // namespace quarv
