import crcmod,sys
f=crcmod.mkCrcFun(0x18005,initCrc=0xFFFF,rev=False,xorOut=0)
bad=0
for h in sys.argv[1:]:
 d=bytes.fromhex(h); n=int.from_bytes(d,'big'); L=len(d)*8
 crc=(n>>(L-47))&0xFFFF
 rest=((n>>(L-31))<<(L-47))|(n&((1<<(L-47))-1))
 bad+=f(rest.to_bytes((L-16)//8,'big'))!=crc
print(bad)
