# awk -v n=CASES -f gen.awk > suite.csv
BEGIN {
  print "case,scope,Wrapper_seat_heating_control.TemperatureStage1,Wrapper_seat_heating_control.TemperatureStage2,Wrapper_seat_heating_control.TemperatureStage3,Wrapper_seat_heating_control.SeatOccupied,Wrapper_seat_heating_control.PowerMgtState,Wrapper_seat_heating_control.PowerMgtState_err,Wrapper_seat_heating_control.GetButtonPressed_status,expect Wrapper_seat_heating_control.LEDFeedback[0],expect Wrapper_seat_heating_control.LEDFeedback[1],expect Wrapper_seat_heating_control.LEDFeedback[2],expect Wrapper_seat_heating_control.SetHeatingCoil_temp"
  split("0,0,0,0 1,0,0,30 1,0,0,30 1,1,0,35 1,1,0,35 1,1,1,45 1,1,1,45 0,0,0,0 0,0,0,0 1,0,0,30", e, " ")
  for (c = 1; c <= n; c++) {
    name = sprintf("press_cycle_%06d", c)
    printf "%s,Wrapper_seat_heating_control,30,35,45,1,1,0,0,%s\n", name, e[1]
    for (s = 2; s <= 10; s++) printf "%s,,,,,,,,%d,%s\n", name, (s % 2 == 0), e[s]
  }
}
